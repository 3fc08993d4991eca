// A child for the runner benchmark: writes MiB of log-like text lines to standard output and the
// same amount to standard error, interleaved, formatting every line as a real program would.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void writeAll(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0)
      std::exit(1);
    done += static_cast<size_t>(n);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const size_t mebibytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  const size_t target = mebibytes << 20, block = 1 << 16;
  std::string out, err;
  char line[128];
  for (size_t written = 0, n = 0; written < target; written += block) {
    out.clear();
    err.clear();
    while (out.size() < block) {
      int length = std::snprintf(line, sizeof line, "%zu\tinfo\tjob %zu finished in %.3f ms\n", n,
                                 n % 977, static_cast<double>(n % 10007) / 7.0);
      out.append(line, static_cast<size_t>(length));
      err.append(line, static_cast<size_t>(length));
      ++n;
    }
    out.resize(block);
    err.resize(block);
    writeAll(1, out);
    writeAll(2, err);
  }
  return 0;
}

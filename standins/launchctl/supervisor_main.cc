// launchctl-supervisor: the program each loaded job's supervisor runs (supervision.h). The process
// `launchctl bootstrap` forked becomes it, with the state directory, the pid of the job it has
// started and when it started it (microseconds since the epoch, "-" when no job starts at load) as
// its arguments and the job, as encodeJobConfig wrote it, at kConfigFd. It is not meant to be run
// by hand.

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "fd_io.h"
#include "job_config_codec.h"
#include "supervision.h"
#include "supervisor.h"

int main(int argc, char** argv) {
  using namespace launchctl;
  struct stat config {};
  pid_t started = 0;
  int64_t loadStart = 0;
  const auto number = [](const char* text, auto& value) {
    const char* end = text + std::strlen(text);
    const auto [at, error] = std::from_chars(text, end, value);
    return error == std::errc() && at == end;
  };
  const bool startedAtLoad = argc == 4 && std::strcmp(argv[3], "-") != 0;
  if (argc != 4 || fstat(kConfigFd, &config) != 0 || !S_ISREG(config.st_mode) ||
      !number(argv[2], started) || (startedAtLoad && !number(argv[3], loadStart))) {
    std::fprintf(stderr, "%s is started by launchctl bootstrap, not by hand\n", argv[0]);
    return 64;
  }
  std::string bytes(static_cast<size_t>(config.st_size), '\0');
  const bool read = readFully(kConfigFd, bytes.data(), bytes.size());
  close(kConfigFd);
  const std::optional<JobConfig> job = read ? decodeJobConfig(bytes) : std::nullopt;
  if (!job) {
    return 65;  // the job is left to bootout, as with a supervisor that died
  }
  bytes = std::string();
  supervise(*job, argv[1], started,
            startedAtLoad ? std::optional<int64_t>(loadStart) : std::nullopt);
}

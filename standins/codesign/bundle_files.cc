#include "bundle_files.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace codesign {
namespace {

struct DigestDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

std::string hex(const unsigned char* bytes, unsigned size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
  }
  return text;
}

/// True when `target`, read from the folder of the link at `relative`, stays in the bundle.
bool linkStaysInside(const std::filesystem::path& relative, const std::filesystem::path& target) {
  if (target.is_absolute())
    return false;
  int depth = 0;
  for (const auto& part : relative.parent_path())
    depth += part == "." ? 0 : 1;
  for (const auto& part : target) {
    if (part == "..")
      --depth;
    else if (part != "." && !part.empty())
      ++depth;
    if (depth < 0)
      return false;
  }
  return true;
}

}  // namespace

std::string sha256OfFile(const std::filesystem::path& file) {
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return "";
  std::unique_ptr<EVP_MD_CTX, DigestDeleter> context(EVP_MD_CTX_new());
  EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
  std::vector<unsigned char> buffer(1 << 16);
  for (;;) {
    ssize_t count = ::read(fd, buffer.data(), buffer.size());
    if (count < 0 && errno == EINTR)
      continue;
    if (count < 0) {
      ::close(fd);
      return "";
    }
    if (count == 0)
      break;
    EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(count));
  }
  ::close(fd);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  EVP_DigestFinal_ex(context.get(), digest, &size);
  return hex(digest, size);
}

Fingerprints fingerprintBundle(const std::filesystem::path& bundle, std::string& error) {
  namespace fs = std::filesystem;
  Fingerprints prints;
  const fs::path sealFolder = fs::path(kSealPath).parent_path();
  std::error_code walkError;
  fs::recursive_directory_iterator walk(bundle, walkError), end;
  for (; !walkError && walk != end; walk.increment(walkError)) {
    const fs::path relative = walk->path().lexically_relative(bundle);
    if (relative == sealFolder) {
      walk.disable_recursion_pending();
      continue;
    }
    const fs::file_status status = walk->symlink_status();
    if (fs::is_directory(status))
      continue;
    if (fs::is_symlink(status)) {
      const fs::path target = fs::read_symlink(walk->path(), walkError);
      if (!walkError && !linkStaysInside(relative, target)) {
        error = "symbolic link " + relative.string() + " points outside the bundle";
        return prints;
      }
      prints[relative.string()] = "link:" + target.string();
      continue;
    }
    if (!fs::is_regular_file(status)) {
      error = relative.string() + " is not a regular file";
      return prints;
    }
    std::string digest = sha256OfFile(walk->path());
    if (digest.empty()) {
      error = relative.string() + ": " + std::strerror(errno);
      return prints;
    }
    prints[relative.string()] = digest;
  }
  if (walkError)
    error = bundle.string() + ": " + walkError.message();
  return prints;
}

}  // namespace codesign

// The package on its way from the server to the staging directory: written to disk and hashed
// piece by piece as it arrives.

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>

#include "file_io.h"
#include "language.h"
#include "updater.h"

namespace morvane::Updater::detail {
namespace {

struct DigestDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

/// The open package file and its running digest. Shared with the transfer thread, which may
/// still hold it after the caller has given up waiting.
class PackageSink {
 public:
  explicit PackageSink(UniqueFd fd) : fd_(std::move(fd)), digest_(EVP_MD_CTX_new()) {
    if (!digest_ || EVP_DigestInit_ex(digest_.get(), EVP_sha256(), nullptr) != 1)
      error_ = L("无法计算摘要。", "Couldn't compute the checksum.");
  }

  /// Appends `bytes` to the file and the digest; false (with the reason kept) when either fails.
  bool take(std::string_view bytes) {
    std::lock_guard lock(mutex_);
    if (!error_.empty())
      return false;
    EVP_DigestUpdate(digest_.get(), bytes.data(), bytes.size());
    while (!bytes.empty()) {
      const ssize_t written = ::write(fd_.get(), bytes.data(), bytes.size());
      if (written < 0 && errno == EINTR)
        continue;
      if (written <= 0) {
        error_ = describeErrno(written < 0 ? errno : EIO);
        return false;
      }
      bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
  }

  /// The reason writing stopped, or "".
  std::string error() const {
    std::lock_guard lock(mutex_);
    return error_;
  }

  /// Closes the file and gives the digest in lower-case hexadecimal, or the reason it failed.
  Result<std::string> finish() {
    std::lock_guard lock(mutex_);
    if (error_.empty() && ::close(fd_.release()) != 0)
      error_ = describeErrno(errno);
    if (!error_.empty())
      return fail(error_);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(digest_.get(), digest, &size);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
      hex += kHex[digest[i] >> 4];
      hex += kHex[digest[i] & 15];
    }
    return hex;
  }

 private:
  mutable std::mutex mutex_;
  UniqueFd fd_;
  std::unique_ptr<EVP_MD_CTX, DigestDeleter> digest_;
  std::string error_;
};

std::unexpected<Failure> notSaved(const std::string& reason) {
  return fail(L("无法保存安装包：", "Couldn't save the package: ") + reason);
}

}  // namespace

Result<std::string> fetchToFile(const std::string& url, double timeout, size_t maximumBodySize,
                                const std::filesystem::path& file) {
  UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd)
    return notSaved(file.string() + ": " + describeErrno(errno));
  auto sink = std::make_shared<PackageSink>(std::move(fd));
  Result<std::string> fetched = fetch(url, timeout, maximumBodySize,
                                      [sink](std::string_view bytes) { return sink->take(bytes); });
  if (std::string error = sink->error(); !error.empty())
    return notSaved(error);
  if (!fetched)
    return fail(L("下载失败：", "Download failed: ") + fetched.error().text);
  Result<std::string> digest = sink->finish();
  if (!digest)
    return notSaved(digest.error().text);
  return digest;
}

}  // namespace morvane::Updater::detail

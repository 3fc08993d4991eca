#include <plist/plist.h>

#include "app_identifier.h"
#include "file_io.h"
#include "language.h"
#include "platform.h"
#include "property_list.h"
#include "release_signature.h"
#include "remove_tree.h"
#include "shell.h"
#include "updater.h"

namespace morvane::Updater {
namespace {

namespace fs = std::filesystem;

constexpr double kTransferTimeout = 600;
constexpr double kUnpackTimeout = 120;
constexpr double kSignatureTimeout = 120;
/// A real package is a few megabytes; it goes to disk as it arrives.
constexpr size_t kLargestPackage = size_t{512} << 20;

/// Whatever a hostile package left in it, modes included, is removed.
void removeAll(const fs::path& path) {
  removeTree(path);
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i]))
      return false;
  return true;
}

/// Whether the bundle's Info.plist names this app at exactly `version`.
bool isThisAppAt(const fs::path& app, const std::string& version) {
  Result<std::string> bytes = readFile(app / "Contents" / "Info.plist");
  PlistPtr info = bytes ? parsePropertyList(*bytes) : nullptr;
  if (info == nullptr || plist_get_node_type(info.get()) != PLIST_DICT)
    return false;
  return dictionaryString(info.get(), "CFBundleIdentifier") == std::string(kAppIdentifier) &&
         dictionaryString(info.get(), "CFBundleShortVersionString") == version;
}

/// One download: every failure removes the staging directory before it is reported.
class Download {
 public:
  Download(const Release& release, const Paths& paths)
      : release_(release), dir_(stagingDirectory(paths)) {}

  Result<Staged> run() {
    if (std::optional<Staged> kept = alreadyStaged())
      return *kept;
    removeAll(dir_);
    if (Outcome made = createDirectories(dir_); !made)
      return fail(L("无法创建下载目录：", "Couldn't create the download directory: ") +
                  made.error().text);
    const fs::path zip = dir_ / "Morvane.zip";
    Result<std::string> digest =
        detail::fetchToFile(release_.url(), kTransferTimeout, kLargestPackage, zip);
    if (!digest)
      return discard(digest.error().text);
    return verify(zip, *digest);
  }

 private:
  /// The bundle an earlier download of this very release staged and left uninstalled (there was
  /// nowhere to start it then), when it is all the staging directory holds and still passes
  /// every check that needs no package.
  std::optional<Staged> alreadyStaged() const {
    const fs::path app = dir_ / "Morvane.app";
    std::error_code error;
    size_t entries = 0;
    for (fs::directory_iterator walk(dir_, error), end; !error && walk != end;
         walk.increment(error))
      ++entries;
    if (error || entries != 1 || !fs::is_directory(fs::symlink_status(app, error)) ||
        !checkPublisherSignature(release_) || !isThisAppAt(app, release_.version))
      return std::nullopt;
    ShellResult seal = Shell::run(platform::toolPath(platform::Tool::codesign),
                                  {"--verify", "--deep", "--strict", app}, kSignatureTimeout);
    if (!seal.ok())
      return std::nullopt;
    return Staged{release_.version, app};
  }

  Result<Staged> verify(const fs::path& zip, const std::string& digest) {
    if (!equalIgnoringCase(digest, release_.sha256))
      return discard(L("下载的文件摘要不符，已丢弃。",
                       "The downloaded file's checksum does not match, so it was discarded."));
    if (Outcome signedByPublisher = checkPublisherSignature(release_); !signedByPublisher)
      return discard(signedByPublisher.error().text);
    ShellResult unpacked = Shell::run(platform::toolPath(platform::Tool::ditto),
                                      {"-x", "-k", zip, dir_}, kUnpackTimeout);
    if (!unpacked.ok())
      return discard(L("解压失败。", "Couldn't unpack the download."));
    removeAll(zip);
    const fs::path app = dir_ / "Morvane.app";
    ShellResult signature = Shell::run(platform::toolPath(platform::Tool::codesign),
                                       {"--verify", "--deep", "--strict", app}, kSignatureTimeout);
    if (!signature.ok())
      return discard(L("新版本的签名校验没有通过，已丢弃。",
                       "The new version failed signature verification, so it was discarded."));
    if (!isThisAppAt(app, release_.version))
      return discard(L([&] { return "下载到的不是 Morvane " + release_.version + "，已丢弃。"; },
                       [&] {
                         return "The download is not Morvane " + release_.version +
                                ", so it was discarded.";
                       }));
    return Staged{release_.version, app};
  }

  std::unexpected<Failure> discard(std::string text) {
    removeAll(dir_);
    return fail(std::move(text));
  }

  const Release& release_;
  const fs::path dir_;
};

}  // namespace

Result<Staged> download(const Release& release, const Paths& paths) {
  return Download(release, paths).run();
}

}  // namespace morvane::Updater

#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "failure.h"
#include "paths.h"
#include "unique_fd.h"

namespace morvane::Updater {

/// Where releases are published unless MORVANE_UPDATE_URL says otherwise.
inline constexpr std::string_view defaultBaseURL = "https://updates.morvane.org";

/// The release manifest's name under the base URL.
inline constexpr std::string_view manifestName = "latest.json";

/// MORVANE_UPDATE_URL when set and not empty, taken verbatim; read once per process.
const std::optional<std::string>& overrideBaseURL();

/// The override when there is one, else the default origin.
std::string baseURL();

/// A published release, as the manifest names it.
struct Release {
  /// Groups of ASCII digits joined by dots, at least two groups.
  std::string version;
  /// The package's SHA-256, 64 lower-case hexadecimal digits.
  std::string sha256;
  /// The publisher's signature over the version and digest, in base64; empty when the manifest
  /// has none.
  std::string signature = {};
  /// The id of the key the manifest says signed it; empty when it names none.
  std::string keyId = {};

  /// baseURL + "/Morvane-" + version + ".zip"
  std::string url() const;

  bool operator==(const Release&) const = default;
};

/// A downloaded, verified bundle waiting to be installed.
struct Staged {
  std::string version;
  /// <root>/update/Morvane.app
  std::filesystem::path app;

  bool operator==(const Staged&) const = default;
};

/// Asks the update server for its newest release: present when it is newer than
/// `currentVersion`, absent when the app is up to date. Blocks for up to 30 seconds.
Result<std::optional<Release>> check(const std::string& currentVersion);

/// The release a manifest names, or nullopt when the manifest is not recognised: not a JSON
/// object, "version" or "sha256" missing, of another type or not matching its form, or a
/// version group too large for a signed 64-bit integer.
std::optional<Release> release(std::string_view fromManifest);

/// The leading numbers of each dot-separated piece of a version text; 0 for a piece that does
/// not start with ASCII digits or whose number does not fit. Empty pieces are dropped.
std::vector<int64_t> components(std::string_view version);

/// Whether `version` is newer than `than`, comparing components with missing ones as 0.
bool isNewer(std::string_view version, std::string_view than);

/// <root>/update: where a download is unpacked and checked.
std::filesystem::path stagingDirectory(const Paths& paths);

/// Fetches the release's package and proves it: its digest, then the publisher's signature, then
/// its contents unpacked, then its seal, then its identifier and version. The staging directory is
/// emptied first and removed again after any failure. Blocks for up to ten minutes.
Result<Staged> download(const Release& release, const Paths& paths);

/// One update at a time per bundle and per data directory: whoever holds this lock may empty the
/// staging directory, download into it and hand the staged bundle to the installer.
///
/// It is two locks held with flock, each released when every process holding it has ended,
/// however it ends: <bundle>.update.lock beside the bundle, so at most one installer works on a
/// bundle whichever data directory it was started with, and <root>/update.lock for the staging
/// directory. The installer script inherits both and keeps them for its whole run, so an update
/// is in progress from the download until the script has finished.
class UpdateLock {
 public:
  /// Takes both locks for the bundle at `appPath` without waiting; while another process holds
  /// either, the failure says that another update is in progress.
  static Result<UpdateLock> acquire(const Paths& paths, const std::filesystem::path& appPath);

  /// The open data-directory lock file; it is closed on exec.
  int descriptor() const { return fd_.get(); }

  /// The open bundle lock file; it is closed on exec.
  int bundleDescriptor() const { return bundleFd_.get(); }

  /// Where the data-directory lock file is.
  const std::filesystem::path& path() const { return path_; }

  /// Lets go of this process's hold; a process that inherited the locks keeps them.
  void release() {
    fd_.reset();
    bundleFd_.reset();
  }

 private:
  UpdateLock(UniqueFd bundleFd, UniqueFd fd, std::filesystem::path path)
      : bundleFd_(std::move(bundleFd)), fd_(std::move(fd)), path_(std::move(path)) {}

  UniqueFd bundleFd_;
  UniqueFd fd_;
  std::filesystem::path path_;
};

/// <root>/update.lock
std::filesystem::path updateLockPath(const Paths& paths);

/// <bundle>.update.lock, beside the bundle at `appPath`.
std::filesystem::path bundleLockPath(const std::filesystem::path& appPath);

/// The installer script's text, written to <root>/update-install.sh on every hand-off.
std::string installerScript();

/// <root>/update-install.sh
std::filesystem::path installerScriptPath(const Paths& paths);

/// <root>/update-swap: the installer's copy of the swap tool, which exchanges the installed and
/// the new bundle in one step. It lives outside both bundles, so a rollback never depends on
/// the bundle it undoes.
std::filesystem::path installerSwapPath(const Paths& paths);

/// <root>/update.log: everything the installer script prints, appended run after run.
std::filesystem::path installLogPath(const Paths& paths);

/// Whether the bundle at `appPath` could be replaced: it must be an .app bundle, and both it and
/// its folder writable. Asked before downloading, and again by the hand-off.
Outcome checkReplaceable(const std::filesystem::path& appPath);

/// Checks that the bundle at `appPath` can be replaced, writes the installer script and starts
/// it detached, handing it `lock`. The script waits for `pid` to exit, swaps the staged bundle
/// in, starts it, and restores the old bundle unless the new one comes up and stays up.
/// Success means the script has started and holds the lock: its first log line is in the log.
/// The caller must then let `pid` end within 60 seconds.
Outcome launchInstaller(const Staged& staged, const std::filesystem::path& appPath, pid_t pid,
                        const Paths& paths, UpdateLock lock);

namespace detail {

/// GETs `url` and gives the body of a 200 answer; any other status is a failure naming the
/// URL's last path component. Goes direct when the base URL was overridden, else through the
/// system's proxy settings. Bodies above `maximumBodySize` bytes are refused. With `receive`, the
/// body of a 200 answer goes to it as it arrives (see HTTPRequest::receive) and the result is
/// empty.
Result<std::string> fetch(const std::string& url, double timeout, size_t maximumBodySize,
                          std::function<bool(std::string_view)> receive = {});

/// Fetches `url` as fetch does into the new file `file`, computing its SHA-256 on the way, so
/// the package is never held in memory whole. Gives the digest in lower-case hexadecimal; a
/// failure's text says whether the download or the saving failed.
Result<std::string> fetchToFile(const std::string& url, double timeout, size_t maximumBodySize,
                                const std::filesystem::path& file);

}  // namespace detail
}  // namespace morvane::Updater

#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "failure.h"
#include "paths.h"

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

/// The installer script's text, written to <root>/update-install.sh on every hand-off.
extern const std::string_view installerScript;

/// <root>/update-install.sh
std::filesystem::path installerScriptPath(const Paths& paths);

/// <root>/update.log: everything the installer script prints, appended run after run.
std::filesystem::path installLogPath(const Paths& paths);

/// Checks that the bundle at `appPath` can be replaced, writes the installer script and starts
/// it detached. The script waits for `pid` to exit, swaps the staged bundle in, starts it, and
/// restores the old bundle if the new one does not come up. Success means only that the script
/// was started; the caller must then let `pid` end within 60 seconds.
Outcome launchInstaller(const Staged& staged, const std::filesystem::path& appPath, pid_t pid,
                        const Paths& paths);

namespace detail {

/// GETs `url` and gives the body of a 200 answer; any other status is a failure naming the
/// URL's last path component. Goes direct when the base URL was overridden, else through the
/// system's proxy settings. Bodies above `maximumBodySize` bytes are refused.
Result<std::string> fetch(const std::string& url, double timeout, size_t maximumBodySize);

}  // namespace detail
}  // namespace morvane::Updater

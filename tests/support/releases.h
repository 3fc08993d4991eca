#pragma once

#include <openssl/evp.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "release_signature.h"
#include "shell.h"
#include "test_support.h"

namespace morvane::testing {

/// A release package on disk, its SHA-256, and the latest.json that publishes it.
struct Package {
  std::filesystem::path zip;
  std::string sha256;
  /// latest.json as scripts/release wrote it; empty once the package is repacked.
  std::string manifest = {};
};

/// An Ed25519 key pair that signs releases in tests.
class SigningKey {
 public:
  /// A new key pair, whose private key is a PEM file in a folder of its own.
  SigningKey();

  /// The key pair whose private key is the PEM file `file`.
  explicit SigningKey(std::filesystem::path file);

  /// The key releases are signed with on this machine: the one whose public half the build
  /// embedded.
  static const SigningKey& release();

  /// The private key's PEM file.
  const std::filesystem::path& file() const { return file_; }

  Updater::PublicKey publicKey() const;

  /// The publisher's signature of a release, in base64, as a manifest carries it.
  std::string sign(const std::string& version, const std::string& sha256) const;

 private:
  std::unique_ptr<TempDir> folder_;
  std::filesystem::path file_;
  std::shared_ptr<EVP_PKEY> key_;
};

/// latest.json naming `version` and `sha256`, signed with `key` and naming it.
std::string signedManifest(const std::string& version, const std::string& sha256,
                           const SigningKey& key = SigningKey::release());

/// Runs scripts/release with `options` on the built application at `version` into `outDir`,
/// with `environment` added to this process's.
ShellResult runReleaseScript(const std::string& version, const std::filesystem::path& outDir,
                             const Shell::Environment& environment = {},
                             const std::vector<std::string>& options = {});

/// Packages the built application at `version` with scripts/release into `outDir`; with an
/// `identifier`, the bundle carries that identifier instead of the app's own.
Package makeRelease(const std::string& version, const std::filesystem::path& outDir,
                    const std::string& identifier = "");

/// Unpacks `package`, lets `change` edit the tree (whose top holds Morvane.app), and zips it
/// again in place, links kept as links.
Package repack(const Package& package,
               const std::function<void(const std::filesystem::path&)>& change);

/// The SHA-256 of a file, as sha256sum prints it.
std::string sha256Of(const std::filesystem::path& file);

}  // namespace morvane::testing

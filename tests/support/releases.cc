#include "releases.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <cstdio>

namespace morvane::testing {

SigningKey::SigningKey()
    : folder_(std::make_unique<TempDir>()),
      file_(folder_->path() / "key.pem"),
      key_(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), EVP_PKEY_free) {
  std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(file_.c_str(), "w"), std::fclose);
  EXPECT_TRUE(key_ && out &&
              PEM_write_PrivateKey(out.get(), key_.get(), nullptr, nullptr, 0, nullptr, nullptr));
}

SigningKey::SigningKey(std::filesystem::path file) : file_(std::move(file)) {
  std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(file_.c_str(), "r"), std::fclose);
  if (in)
    key_.reset(PEM_read_PrivateKey(in.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
  EXPECT_TRUE(key_) << "cannot read the release key " << file_
                    << " (a build given only public keys needs MORVANE_RELEASE_KEY for its tests)";
}

const SigningKey& SigningKey::release() {
  // Chosen by the build, beside the public keys it embedded; tests may change HOME meanwhile.
  static const SigningKey key{std::filesystem::path(RELEASE_SIGNING_KEY)};
  return key;
}

Updater::PublicKey SigningKey::publicKey() const {
  Updater::PublicKey raw{};
  size_t size = raw.size();
  EXPECT_TRUE(key_ && EVP_PKEY_get_raw_public_key(key_.get(), raw.data(), &size) == 1);
  return raw;
}

std::string SigningKey::sign(const std::string& version, const std::string& sha256) const {
  const std::string message = Updater::signedMessage(version, sha256);
  unsigned char signature[64];
  size_t size = sizeof signature;
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  EXPECT_TRUE(
      key_ && EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_.get()) == 1 &&
      EVP_DigestSign(context.get(), signature, &size,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1);
  unsigned char text[100];
  const int length = EVP_EncodeBlock(text, signature, static_cast<int>(size));
  return std::string(reinterpret_cast<char*>(text), static_cast<size_t>(length));
}

std::string signedManifest(const std::string& version, const std::string& sha256,
                           const SigningKey& key) {
  return R"({"version": ")" + version + R"(", "sha256": ")" + sha256 + R"(", "signature": ")" +
         key.sign(version, sha256) + R"(", "keyId": ")" + Updater::keyId(key.publicKey()) + "\"}";
}

std::string sha256Of(const std::filesystem::path& file) {
  ShellResult digest = Shell::run("/usr/bin/sha256sum", {file.string()}, 60);
  EXPECT_TRUE(digest.ok()) << digest.message();
  return digest.standardOutput.substr(0, 64);
}

ShellResult runReleaseScript(const std::string& version, const std::filesystem::path& outDir,
                             const Shell::Environment& environment,
                             const std::vector<std::string>& options) {
  std::vector<std::string> arguments{"--bundle", MORVANE_BUNDLE};
  arguments.insert(arguments.end(), options.begin(), options.end());
  arguments.insert(arguments.end(), {version, outDir.string()});
  return Shell::run(RELEASE_SCRIPT, arguments, 120, environment);
}

Package makeRelease(const std::string& version, const std::filesystem::path& outDir,
                    const std::string& identifier) {
  std::vector<std::string> options;
  if (!identifier.empty())
    options = {"--identifier", identifier};
  ShellResult made = runReleaseScript(
      version, outDir, {{"MORVANE_RELEASE_KEY", SigningKey::release().file().string()}}, options);
  EXPECT_TRUE(made.ok()) << made.message();
  Package package{outDir / ("Morvane-" + version + ".zip"), ""};
  package.sha256 = sha256Of(package.zip);
  package.manifest = readText(outDir / "latest.json");
  return package;
}

Package repack(const Package& package,
               const std::function<void(const std::filesystem::path&)>& change) {
  TempDir tree;
  ShellResult unpacked =
      Shell::run("/usr/bin/unzip", {"-q", package.zip.string(), "-d", tree.path().string()}, 60);
  EXPECT_TRUE(unpacked.ok()) << unpacked.message();
  change(tree.path());
  std::filesystem::remove(package.zip);
  ShellResult zipped = Shell::run("/bin/sh",
                                  {"-c", "cd \"$1\" && zip -q -r -y \"$2\" .", "sh",
                                   tree.path().string(), package.zip.string()},
                                  60);
  EXPECT_TRUE(zipped.ok()) << zipped.message();
  return {package.zip, sha256Of(package.zip)};
}

}  // namespace morvane::testing

#include "release_signature.h"

#include <openssl/evp.h>

#include <memory>
#include <optional>

#include "language.h"

namespace morvane::Updater {
namespace {

constexpr size_t kSignatureSize = 64;
/// Base64 of a signature is 88 characters; anything much longer is not one.
constexpr size_t kLongestSignatureText = 256;

template <auto free>
struct Deleter {
  template <class T>
  void operator()(T* pointer) const {
    free(pointer);
  }
};
using EncodeContext = std::unique_ptr<EVP_ENCODE_CTX, Deleter<EVP_ENCODE_CTX_free>>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;

const auto* bytesOf(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

/// The bytes of a base64 text, or nullopt when it is not base64.
std::optional<std::string> decodeBase64(std::string_view text) {
  if (text.size() > kLongestSignatureText)
    return std::nullopt;
  EncodeContext context(EVP_ENCODE_CTX_new());
  EVP_DecodeInit(context.get());
  std::string bytes(text.size(), '\0');
  auto* out = reinterpret_cast<unsigned char*>(bytes.data());
  int size = 0;
  int tail = 0;
  if (EVP_DecodeUpdate(context.get(), out, &size, bytesOf(text), static_cast<int>(text.size())) <
          0 ||
      EVP_DecodeFinal(context.get(), out + size, &tail) < 0)
    return std::nullopt;
  bytes.resize(static_cast<size_t>(size + tail));
  return bytes;
}

bool verifies(const PublicKey& publicKey, std::string_view signature, std::string_view message) {
  Key key(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey.data(), publicKey.size()));
  DigestContext context(EVP_MD_CTX_new());
  return key && context &&
         EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
         EVP_DigestVerify(context.get(), bytesOf(signature), signature.size(), bytesOf(message),
                          message.size()) == 1;
}

}  // namespace

std::string signedMessage(std::string_view version, std::string_view sha256) {
  return "Morvane release signature v1\nversion " + std::string(version) + "\nsha256 " +
         std::string(sha256) + "\n";
}

std::string keyId(const PublicKey& key) {
  static constexpr char kDigits[] = "0123456789abcdef";
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  EVP_Digest(key.data(), key.size(), digest, &size, EVP_sha256(), nullptr);
  std::string id;
  for (unsigned i = 0; i < 8; ++i) {
    id += kDigits[digest[i] >> 4];
    id += kDigits[digest[i] & 0xF];
  }
  return id;
}

Outcome checkPublisherSignature(const Release& release, std::span<const PublicKey> keys) {
  const std::optional<std::string> signature = decodeBase64(release.signature);
  if (signature && signature->size() == kSignatureSize) {
    const std::string message = signedMessage(release.version, release.sha256);
    for (const PublicKey& key : keys)
      if ((release.keyId.empty() || release.keyId == keyId(key)) &&
          verifies(key, *signature, message))
        return {};
  }
  return fail(L("新版本没有 Morvane 发布者的签名，已丢弃。",
                "The new version is not signed by Morvane's publisher, so it was discarded."));
}

}  // namespace morvane::Updater

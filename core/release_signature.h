#pragma once

// Every release is signed by its publisher: an Ed25519 signature over the version and the
// package's SHA-256, which the updater checks against the public keys the build carries before
// it unpacks anything.

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "failure.h"
#include "updater.h"

namespace morvane::Updater {

/// An Ed25519 public key: its 32 raw bytes.
using PublicKey = std::array<unsigned char, 32>;

/// The publisher's keys this build accepts, embedded when it was built; empty in a build made
/// to refuse every package.
std::span<const PublicKey> publisherKeys();

/// The bytes the publisher signs for a release: a heading of their own, then the version and the
/// package's digest (lower case, as a Release holds it), each on its line.
std::string signedMessage(std::string_view version, std::string_view sha256);

/// A key's name in manifests: the first 16 hexadecimal digits of the SHA-256 of its raw bytes.
std::string keyId(const PublicKey& key);

/// Succeeds when the release's signature verifies over its version and digest with one of
/// `keys`, or with the key its key id names when it names one; otherwise the text that a package
/// not signed by the publisher is discarded with.
Outcome checkPublisherSignature(const Release& release,
                                std::span<const PublicKey> keys = publisherKeys());

}  // namespace morvane::Updater

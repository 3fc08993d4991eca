// The walk that keeps the property-list parser away from binary files it cannot survive: it
// recurses once per nesting level and copies an object each time it is referenced, so a deep or
// self-multiplying object graph takes it down. The walk here follows the same references with a
// stack of its own and stops at the caps.

#include <cstdint>
#include <vector>

#include "property_list.h"

namespace morvane {
namespace {

constexpr std::string_view kBinaryMagic = "bplist00";
constexpr size_t kTrailerSize = 32;

/// A big-endian unsigned integer of `width` bytes at `at`; absent when it does not fit.
std::optional<uint64_t> bigEndian(std::string_view bytes, uint64_t at, uint64_t width) {
  if (width == 0 || width > 8 || at > bytes.size() || width > bytes.size() - at)
    return std::nullopt;
  uint64_t value = 0;
  for (uint64_t i = 0; i < width; ++i)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

/// The layout the trailer describes.
struct Layout {
  uint64_t offsetSize, referenceSize, objectCount, topObject, offsetTable;
};

std::optional<Layout> readTrailer(std::string_view bytes) {
  if (bytes.size() < kBinaryMagic.size() + kTrailerSize)
    return std::nullopt;
  const uint64_t trailer = bytes.size() - kTrailerSize;
  auto offsetSize = bigEndian(bytes, trailer + 6, 1);
  auto referenceSize = bigEndian(bytes, trailer + 7, 1);
  auto objectCount = bigEndian(bytes, trailer + 8, 8);
  auto topObject = bigEndian(bytes, trailer + 16, 8);
  auto offsetTable = bigEndian(bytes, trailer + 24, 8);
  if (!offsetSize || !referenceSize || !objectCount || !topObject || !offsetTable ||
      *offsetTable >= bytes.size())
    return std::nullopt;
  return Layout{*offsetSize, *referenceSize, *objectCount, *topObject, *offsetTable};
}

/// Where object `index` starts; absent when the table does not say.
std::optional<uint64_t> objectOffset(std::string_view bytes, const Layout& layout, uint64_t index) {
  if (index >= layout.objectCount || layout.offsetSize == 0 || layout.offsetSize > 8 ||
      index > (bytes.size() / layout.offsetSize))
    return std::nullopt;
  return bigEndian(bytes, layout.offsetTable + index * layout.offsetSize, layout.offsetSize);
}

/// The references a container at `at` holds (keys and values of a dictionary alike); empty for
/// every other object and for anything the walk cannot read, which the parser refuses itself.
std::vector<uint64_t> references(std::string_view bytes, const Layout& layout, uint64_t at) {
  auto marker = bigEndian(bytes, at, 1);
  if (!marker)
    return {};
  const unsigned kind = static_cast<unsigned>(*marker >> 4);
  if (kind != 0xA && kind != 0xC && kind != 0xD)
    return {};
  uint64_t count = *marker & 0xF;
  uint64_t next = at + 1;
  if (count == 0xF) {
    auto sizeMarker = bigEndian(bytes, next, 1);
    if (!sizeMarker || (*sizeMarker >> 4) != 0x1)
      return {};
    const uint64_t width = uint64_t{1} << (*sizeMarker & 0xF);
    auto size = bigEndian(bytes, next + 1, width);
    if (!size)
      return {};
    count = *size;
    next += 1 + width;
  }
  if (kind == 0xD)
    count *= 2;
  const uint64_t width = layout.referenceSize;
  if (width == 0 || width > 8 || count > bytes.size() / width)
    return {};
  std::vector<uint64_t> found;
  found.reserve(count);
  for (uint64_t i = 0; i < count; ++i) {
    auto reference = bigEndian(bytes, next + i * width, width);
    if (!reference)
      return {};
    found.push_back(*reference);
  }
  return found;
}

}  // namespace

bool binaryPropertyListWithinLimits(std::string_view bytes, const PropertyListLimits& limits) {
  if (!bytes.starts_with(kBinaryMagic))
    return true;
  std::optional<Layout> layout = readTrailer(bytes);
  if (!layout)
    return true;  // not a binary property list the parser would take either
  struct Visit {
    uint64_t object;
    size_t depth;
  };
  std::vector<Visit> pending{{layout->topObject, 1}};
  size_t expanded = 0;
  while (!pending.empty()) {
    const Visit visit = pending.back();
    pending.pop_back();
    if (++expanded > limits.expandedObjects || visit.depth > limits.depth)
      return false;
    std::optional<uint64_t> at = objectOffset(bytes, *layout, visit.object);
    if (!at)
      continue;
    for (uint64_t child : references(bytes, *layout, *at))
      pending.push_back({child, visit.depth + 1});
    if (pending.size() > limits.expandedObjects)
      return false;
  }
  return true;
}

}  // namespace morvane

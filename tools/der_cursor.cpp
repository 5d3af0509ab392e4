#include "tools/der_cursor.h"

#include <algorithm>

namespace {

constexpr std::uint8_t kHighTagNumber = 0x1F;
constexpr std::uint8_t kLongLength = 0x80;
constexpr std::size_t kMaxLengthOctets = 8;  // a length beyond 64 bits fits no file

std::string At(std::uint64_t offset) { return " at " + std::to_string(offset); }

}  // namespace

DerRead DerCursor::Element(std::uint64_t offset, std::uint64_t limit) const {
  limit = std::min(limit, bytes_.End());
  std::uint8_t head[2];
  if (offset > limit || limit - offset < sizeof head || !bytes_.Read(offset, head, sizeof head)) {
    return {std::nullopt, "an element header" + At(offset) + " cut off by the end" + At(limit)};
  }
  if ((head[0] & kHighTagNumber) == kHighTagNumber) return {std::nullopt, "a multi-octet tag" + At(offset)};
  if (head[1] == kLongLength) return {std::nullopt, "a BER indefinite length" + At(offset)};
  std::uint64_t contentStart = offset + sizeof head;
  std::uint64_t length = head[1];
  if (head[1] > kLongLength) {
    const std::size_t count = head[1] & ~kLongLength;
    std::uint8_t octets[kMaxLengthOctets];
    if (count > kMaxLengthOctets) {
      return {std::nullopt, "a length of " + std::to_string(count) + " octets" + At(offset)};
    }
    if (limit - contentStart < count || !bytes_.Read(contentStart, octets, count)) {
      return {std::nullopt, "an element header" + At(offset) + " cut off by the end" + At(limit)};
    }
    length = 0;
    for (std::size_t k = 0; k < count; ++k) length = (length << 8) | octets[k];
    contentStart += count;
  }
  if (length > limit - contentStart) {
    return {std::nullopt, "a length of " + std::to_string(length) + At(offset) + " where " +
                              std::to_string(limit - contentStart) + " bytes remain"};
  }
  return {DerElement{head[0], offset, contentStart, contentStart + length}, ""};
}

DerChildren DerCursor::Children(const DerElement& parent, std::size_t most) const {
  DerChildren children;
  for (std::uint64_t at = parent.contentStart; at < parent.end;) {
    if (children.elements.size() == most) {
      children.more = true;
      break;
    }
    DerRead child = Element(at, parent.end);
    if (!child.element) return {{}, false, child.fault};
    children.elements.push_back(*child.element);
    at = child.element->end;
  }
  return children;
}

bool DerCursor::Encodes(const DerElement& element, const std::uint8_t* encoding, std::size_t size) const {
  if (element.Size() != size) return false;
  std::vector<std::uint8_t> bytes(size);
  return bytes_.Read(element.start, bytes.data(), size) && std::equal(bytes.begin(), bytes.end(), encoding);
}

std::vector<std::uint8_t> DerHeader(std::uint8_t tag, std::uint64_t contentSize) {
  if (contentSize < kLongLength) return {tag, static_cast<std::uint8_t>(contentSize)};
  std::vector<std::uint8_t> octets;
  for (std::uint64_t rest = contentSize; rest != 0; rest >>= 8) {
    octets.insert(octets.begin(), static_cast<std::uint8_t>(rest));
  }
  octets.insert(octets.begin(), {tag, static_cast<std::uint8_t>(kLongLength | octets.size())});
  return octets;
}

// DER elements read from untrusted bytes through a ByteCursor, the way the PE
// reader reads headers: every read can fail and none reaches past the bytes
// its parent allows. Only what DER allows is read: a one-octet tag and a
// definite length; a BER indefinite length is a fault.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/byte_source.h"

struct DerElement {
  std::uint8_t tag;  // the identifier octet: class, constructed bit, tag number
  std::uint64_t start;
  std::uint64_t contentStart;
  std::uint64_t end;  // after the content

  std::uint64_t Size() const { return end - start; }
  std::uint64_t ContentSize() const { return end - contentStart; }
};

// An element, or what stood in its place, with its offset.
struct DerRead {
  std::optional<DerElement> element;
  std::string fault;
};

// The first elements that fill a parent's content, whether more follow, or
// the first fault among them.
struct DerChildren {
  std::vector<DerElement> elements;
  bool more = false;
  std::string fault;
};

class DerCursor {
 public:
  explicit DerCursor(const ByteCursor& bytes) : bytes_(bytes) {}

  // The element at `offset`, header and content wholly before `limit`.
  DerRead Element(std::uint64_t offset, std::uint64_t limit) const;
  // The elements that exactly fill `parent`'s content, in order; at most
  // `most` of them, so that a hostile blob of many tiny elements costs
  // nothing.
  DerChildren Children(const DerElement& parent, std::size_t most) const;
  // Whether `element`, header and content, is encoded as `encoding`.
  bool Encodes(const DerElement& element, const std::uint8_t* encoding, std::size_t size) const;

 private:
  const ByteCursor& bytes_;
};

// The identifier octet and the shortest definite length octets of an element
// with `contentSize` bytes of content.
std::vector<std::uint8_t> DerHeader(std::uint8_t tag, std::uint64_t contentSize);

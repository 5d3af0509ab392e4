// Recent tagged copies, keyed by the campaign and the payload they carry,
// least recently used dropped first once their bytes pass the budget. A
// repeat costs neither the RSA signature nor its check. Each copy holds only
// its own checksum and trailer and shares its campaign's prepared head, so
// an entry costs about a kilobyte whatever the exe's size. Safe to use from
// several threads.
#pragma once

#include <cstddef>
#include <array>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <span>
#include <vector>

#include "tools/tag_placement.h"

// A tagged copy of a campaign's exe: the prepared head, which every copy of
// the exe shares, with the CheckSum and the trailer of this copy.
struct TaggedCopy {
  std::string tagSha256;
  std::string etag;
  std::shared_ptr<const PreparedCopy> base;
  std::array<std::uint8_t, 4> checksum;  // little-endian, as the field holds it
  Trailer trailer;

  // The copy's bytes in order, in this copy and its base.
  std::vector<std::span<const std::uint8_t>> Pieces() const;
};

class TagCache {
 public:
  explicit TagCache(std::size_t byteBudget) : byteBudget_(byteBudget) {}

  std::shared_ptr<const TaggedCopy> Find(const std::string& key);
  void Add(const std::string& key, std::shared_ptr<const TaggedCopy> copy);

 private:
  using Entry = std::pair<std::string, std::shared_ptr<const TaggedCopy>>;
  static std::size_t CostOf(const Entry& entry) {
    return entry.first.size() + sizeof(TaggedCopy) + entry.second->tagSha256.size() + entry.second->etag.size();
  }

  std::size_t byteBudget_;
  std::size_t bytes_ = 0;
  std::mutex mutex_;
  std::list<Entry> recent_;  // most recent first
  std::unordered_map<std::string, std::list<Entry>::iterator> index_;
};

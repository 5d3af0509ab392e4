// Recent tagged copies, keyed by the campaign and the payload they carry,
// least recently used dropped first once their bytes pass the budget. A
// repeat costs neither the RSA signature nor the placement and its checks,
// and shares the bytes instead of copying them. Safe to use from several
// threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

using SharedBytes = std::shared_ptr<const std::vector<std::uint8_t>>;

struct TaggedCopy {
  std::string tagSha256;
  std::string etag;
  SharedBytes bytes;
};

class TagCache {
 public:
  explicit TagCache(std::size_t byteBudget) : byteBudget_(byteBudget) {}

  std::shared_ptr<const TaggedCopy> Find(const std::string& key);
  void Add(const std::string& key, std::shared_ptr<const TaggedCopy> copy);

 private:
  using Entry = std::pair<std::string, std::shared_ptr<const TaggedCopy>>;
  static std::size_t CostOf(const Entry& entry) { return entry.first.size() + entry.second->bytes->size(); }

  std::size_t byteBudget_;
  std::size_t bytes_ = 0;
  std::mutex mutex_;
  std::list<Entry> recent_;  // most recent first
  // Keyed by views of the entries' own keys, which stay put in the list.
  std::unordered_map<std::string_view, std::list<Entry>::iterator> index_;
};

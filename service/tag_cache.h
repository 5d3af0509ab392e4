// Recent signatures keyed by the payload they sign, least recently used
// dropped first. A repeat skips the RSA signature, which is nearly all of a
// tag's cost. Safe to use from several threads.
#pragma once

#include <cstddef>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "tools/tag_payload.h"
#include "tools/tag_signer.h"

class TagCache {
 public:
  explicit TagCache(std::size_t capacity) : capacity_(capacity) {}

  std::optional<TagSignature> Find(const TagPayload& payload);
  void Add(const TagPayload& payload, const TagSignature& signature);

 private:
  using Entry = std::pair<std::string, TagSignature>;

  std::size_t capacity_;
  std::mutex mutex_;
  std::list<Entry> recent_;  // most recent first
  std::unordered_map<std::string, std::list<Entry>::iterator> index_;
};

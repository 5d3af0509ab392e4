#include "service/tag_cache.h"

namespace {

std::string KeyOf(const TagPayload& payload) { return std::string(payload.begin(), payload.end()); }

}  // namespace

std::optional<TagSignature> TagCache::Find(const TagPayload& payload) {
  const std::string key = KeyOf(payload);
  const std::lock_guard lock(mutex_);
  const auto found = index_.find(key);
  if (found == index_.end()) return std::nullopt;
  recent_.splice(recent_.begin(), recent_, found->second);
  return found->second->second;
}

void TagCache::Add(const TagPayload& payload, const TagSignature& signature) {
  if (capacity_ == 0) return;
  std::string key = KeyOf(payload);
  const std::lock_guard lock(mutex_);
  if (index_.contains(key)) return;
  if (index_.size() >= capacity_) {
    index_.erase(recent_.back().first);
    recent_.pop_back();
  }
  recent_.emplace_front(std::move(key), signature);
  index_.emplace(recent_.front().first, recent_.begin());
}

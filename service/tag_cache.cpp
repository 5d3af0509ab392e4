#include "service/tag_cache.h"

std::shared_ptr<const TaggedCopy> TagCache::Find(const std::string& key) {
  const std::lock_guard lock(mutex_);
  const auto found = index_.find(std::string_view(key));
  if (found == index_.end()) return nullptr;
  recent_.splice(recent_.begin(), recent_, found->second);
  return found->second->second;
}

void TagCache::Add(const std::string& key, std::shared_ptr<const TaggedCopy> copy) {
  Entry entry{key, std::move(copy)};
  if (CostOf(entry) > byteBudget_) return;
  const std::lock_guard lock(mutex_);
  if (index_.contains(std::string_view(key))) return;
  bytes_ += CostOf(entry);
  recent_.push_front(std::move(entry));
  index_.emplace(std::string_view(recent_.front().first), recent_.begin());
  while (bytes_ > byteBudget_) {
    bytes_ -= CostOf(recent_.back());
    index_.erase(std::string_view(recent_.back().first));
    recent_.pop_back();
  }
}

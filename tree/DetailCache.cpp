#include "tree/DetailCache.h"

namespace sorvel {

DetailTableRef DetailCache::find(std::uint32_t block) {
  auto it = index_.find(block);
  if (it == index_.end()) return nullptr;
  order_.splice(order_.end(), order_, it->second);
  return it->second->table;
}

void DetailCache::makeRoom() {
  while (index_.size() >= kCapacity && !order_.empty()) {
    index_.erase(order_.front().block);
    order_.pop_front();
  }
}

void DetailCache::insert(std::uint32_t block, DetailTableRef table) {
  if (auto it = index_.find(block); it != index_.end()) {
    it->second->table = std::move(table);
    order_.splice(order_.end(), order_, it->second);
    return;
  }
  order_.push_back(Entry{block, std::move(table)});
  index_.emplace(block, std::prev(order_.end()));
}

}  // namespace sorvel

#pragma once
// Loaded item detail tables by the first block of their file, at most 1000, the least recently
// used evicted first.
#include <cstdint>
#include <list>
#include <unordered_map>

#include "tree/DetailTable.h"

namespace sorvel {

class DetailCache {
 public:
  static constexpr std::size_t kCapacity = 1000;

  // The cached table, now the most recently used; null when it is not cached.
  DetailTableRef find(std::uint32_t block);
  // Evicts the least recently used table when the cache is full: done before a load is tried.
  void makeRoom();
  void insert(std::uint32_t block, DetailTableRef table);

  std::size_t size() const { return index_.size(); }
  bool contains(std::uint32_t block) const { return index_.contains(block); }

 private:
  struct Entry {
    std::uint32_t block;
    DetailTableRef table;
  };
  std::list<Entry> order_;  // least recently used first
  std::unordered_map<std::uint32_t, std::list<Entry>::iterator> index_;
};

}  // namespace sorvel

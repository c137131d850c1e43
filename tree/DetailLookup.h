#pragma once
// The item detail file of each folder: loading its table through the cache, and handing out one
// item's record.
#include <cstdint>
#include <string_view>

#include "base/ChainSource.h"
#include "base/LastError.h"
#include "tree/DetailCache.h"
#include "tree/DetailTable.h"
#include "tree/PathLookup.h"

namespace sorvel {

inline constexpr std::uint32_t kErrorMalformedDetailTable = 551;

class DetailLookup {
 public:
  // Each load leaves kErrorSuccess or kErrorMalformedDetailTable in `lastError`.
  DetailLookup(ChainSource& chains, const PathLookup& paths, std::uint32_t& lastError)
      : chains_(chains), paths_(paths), lastError_(lastError) {}

  // The table of the detail file whose chain starts at `block`, read afresh.
  bool loadDetailTable(std::uint32_t block, DetailTable& out);
  // The same through the cache; null when it cannot be loaded.
  DetailTableRef fetchDetailTable(std::uint32_t block);
  DetailTableRef detailTableOf(std::u16string_view folderPath);
  DetailRecordRef detailRecordFor(std::u16string_view itemPath);

  std::uint64_t loads() const { return loads_; }

 private:
  ChainSource& chains_;
  const PathLookup& paths_;
  std::uint32_t& lastError_;
  DetailCache cache_;
  std::uint64_t loads_ = 0;
};

}  // namespace sorvel

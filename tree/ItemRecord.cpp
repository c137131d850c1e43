#include "tree/ItemRecord.h"

namespace sorvel {

std::u16string assembleName(const std::vector<NameEntry>& nameEntries) {
  std::u16string name;
  for (auto it = nameEntries.rbegin(); it != nameEntries.rend(); ++it) {
    for (std::size_t i = 0; i < kNameUnitsPerEntry; ++i) {
      const char16_t unit = it->nameUnit(i);
      if (unit == 0) return name;
      name.push_back(unit);
    }
  }
  return name;
}

}  // namespace sorvel

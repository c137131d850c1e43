// A program built against an installed libsorvel: lists an archive's items with their sizes.
#include <sorvel/sorvel.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) return 1;
  sorvel::api::Result<sorvel::api::Archive> archive =
      sorvel::api::Archive::open(argv[1], sorvel::api::Password::text(argv[2]));
  if (!archive) {
    std::fprintf(stderr, "%s\n", archive.status().message.c_str());
    return static_cast<int>(archive.status().code);
  }
  for (const sorvel::api::ItemInfo& item : archive->items()) {
    std::printf("%s %llu\n", item.path.c_str(), static_cast<unsigned long long>(item.size));
  }
  return 0;
}

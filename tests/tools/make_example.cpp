// Writes the example archive of the README with the test archive builder:
//   make_example examples/sample.sva
#include <iostream>

#include "support/ArchiveBuilder.h"

int main(int argc, char** argv) {
  using namespace sorvel::testing;
  if (argc != 2) {
    std::cerr << "usage: make_example OUTPUT\n";
    return 1;
  }
  ArchiveBuilder builder;
  builder.settings.password = bytesOf("sorvel-example");
  builder.settings.keyBlockCipher = 1;  // AES-256-CFB
  builder.settings.dataCipher = 3;      // AES-256-XTS

  auto dated = [](Item& item, std::int64_t modified) {
    item.created = modified - 86400;
    item.modified = modified;
    item.accessed = modified + 3600;
  };
  dated(builder.addFile(u"hello.txt", "Hello from a Sorvel archive.\n"), 1735689600);
  dated(builder.addFile(u"docs\\readme.txt",
                        "This folder came out of examples/sample.sva.\n"
                        "Every file keeps its modification time; notes\\frozen.txt stays read-only.\n"),
        1736294400);
  auto& frozen = builder.addFile(u"docs\\notes\\frozen.txt", "Read-only: the archive marks this file so.\n");
  frozen.attributes = 0x21;
  dated(frozen, 1736899200);
  dated(builder.addFile(u"docs\\notes\\caf\u00e9 \u00fcber.txt", "Names outside ASCII come back as stored.\n"),
        1737504000);
  dated(builder.addGeneratedFile(u"data\\random.bin", 50000, seededContent(2025)), 1738108800);
  builder.addFolder(u"data\\empty");
  if (!builder.writeTo(argv[1])) {
    std::cerr << "could not write " << argv[1] << "\n";
    return 1;
  }
  return 0;
}

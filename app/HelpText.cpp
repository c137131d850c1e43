#include "app/HelpText.h"

#include <string>

namespace sorvel {

void printHelp(Console& console) {
  const char* const rule = "=====================================";
  console.line(rule);
  console.line(std::string("Sorvel Extractor v") + kProgramVersion);
  console.line(rule);
  console.line("Usage:");
  console.line("  sorvelExtractorWin.exe <archive_path_name> <out_dir>");
  console.line("Example:");
  console.line("  sorvelExtractorWin.exe virt.sva export_out");
  console.line("  sorvelExtractorWin.exe .\\virt.sva .\\out");
  console.line("No argument -> show this help.");
}

}  // namespace sorvel

#include "app/HelpText.h"

#include <string>

namespace sorvel {
namespace {

// The usage lines name the program as it is called on its host.
#ifdef _WIN32
constexpr const char* kUsageLines[] = {
    "  sorvelExtractorWin.exe <archive_path_name> <out_dir>",
    "Example:",
    "  sorvelExtractorWin.exe virt.sva export_out",
    "  sorvelExtractorWin.exe .\\virt.sva .\\out",
};
#else
constexpr const char* kUsageLines[] = {
    "  sorvelExtractorWin <archive_path_name> <out_dir>",
    "Example:",
    "  sorvelExtractorWin virt.sva export_out",
    "  sorvelExtractorWin ./virt.sva ./out",
};
#endif

}  // namespace

void printVersion(Console& console) { console.line(std::string("Sorvel Extractor v") + kProgramVersion); }

void printHelp(Console& console) {
  const char* const rule = "=====================================";
  console.line(rule);
  printVersion(console);
  console.line(rule);
  console.line("Usage:");
  for (const char* line : kUsageLines) console.line(line);
  console.line("No argument -> show this help.");
}

}  // namespace sorvel

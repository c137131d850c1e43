#include "platform/ProcessSafety.h"
#include "sorvel/Tool.h"

int main(int argc, char** argv) {
  // The process is about to hold a password and keys: they must never end up in a core file.
  sorvel::disableCoreDumps();
  return sorvel::tool::runTool(argc, argv);
}

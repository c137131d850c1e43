#include <cstring>

#include "platform/ProcessSafety.h"
#include "sorvel/Tool.h"
#ifdef SORVEL_WITH_MOUNT
#include "mount/MountCommand.h"
#endif

int main(int argc, char** argv) {
  // The process is about to hold a password and keys: they must never end up in a core file.
  sorvel::disableCoreDumps();
#ifdef SORVEL_WITH_MOUNT
  // `sorvel mount ...`: the file system takes its own command line, "mount" standing for the
  // program's name.
  if (argc >= 2 && std::strcmp(argv[1], "mount") == 0) return sorvel::mount::runMountCommand(argc - 1, argv + 1);
#endif
  return sorvel::tool::runTool(argc, argv);
}

#include <cstring>

#include "app/ExitCode.h"
#include "app/Messages.h"
#include "platform/OwnConsole.h"
#include "platform/ProcessSafety.h"
#include "platform/StandardStreams.h"
#include "sorvel/Help.h"
#include "sorvel/Tool.h"
#ifdef SORVEL_WITH_MOUNT
#include "mount/MountCommand.h"
#endif
#ifdef _WIN32
#include "platform/Utf8Arguments.h"
#endif

namespace {

int run(int argc, char** argv) {
  // The process is about to hold a password and keys: they must never end up in a core file.
  sorvel::disableCoreDumps();
  // File content and tar streams go to standard output byte for byte, lines end in "\n".
  sorvel::makeStandardStreamsBinary();
  if (argc < 2 && sorvel::consoleMadeForThisProcess()) {
    // Started from Explorer: the help, kept on the screen until the user has read it.
    sorvel::tool::printToolHelp({});
    sorvel::waitForKey(sorvel::Message::PressAKeyToClose);
    return sorvel::ExitCode::Success;
  }
  if (argc >= 2 && std::strcmp(argv[1], "mount") == 0) {
#ifdef SORVEL_WITH_MOUNT
    // `sorvel mount ...`: the file system takes its own command line, "mount" standing for the
    // program's name.
    return sorvel::mount::runMountCommand(argc - 1, argv + 1);
#else
    sorvel::tool::reportProblem(std::string(sorvel::Message::MountOnLinuxOnly));
    return sorvel::ExitCode::Usage;
#endif
  }
  return sorvel::tool::runTool(argc, argv);
}

}  // namespace

#ifdef _WIN32
// Windows hands the arguments over as UTF-16; the tool works in UTF-8.
int wmain(int argc, wchar_t** argv) { return sorvel::runWithUtf8Arguments(argc, argv, run); }
#else
int main(int argc, char** argv) { return run(argc, argv); }
#endif

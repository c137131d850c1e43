#pragma once
// The tool's commands on an opened archive, each on the items the command line chose. Each
// answers the exit code.
#include <functional>
#include <string>
#include <vector>

#include "app/ItemSelection.h"
#include "archive/Archive.h"
#include "sorvel/Options.h"

namespace sorvel::tool {

struct CommandContext {
  Archive& archive;
  const Options& options;
  const ItemSelection& selection;
};

int listItems(CommandContext& context);
int testItems(CommandContext& context);
int extractItems(CommandContext& context);
int catItems(CommandContext& context);
int exportTar(CommandContext& context);

// Before the archive is opened (and the password asked for): 0 when export may write where it
// was told, else the exit code after the message. Standard output that is a terminal is refused
// unless named, and an output that is the archive itself always.
int checkExportOutput(const Options& options);

}  // namespace sorvel::tool

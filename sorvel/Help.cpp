#include "sorvel/Help.h"

#include <cstdio>
#include <string_view>

#include "app/HelpText.h"
#include "app/MountHelp.h"

namespace sorvel::tool {
namespace {

constexpr std::string_view kOverview =
    "Usage: sorvel COMMAND [OPTION...] ARCHIVE [PATH|PATTERN...]\n"
    "Lists, tests, extracts and exports sorvel archives (.sva).\n"
    "\n"
    "Commands:\n"
    "  list    ARCHIVE [PATH...]           one line per item: type, attributes, size, time, path\n"
    "  test    ARCHIVE [PATH...]           read and decrypt everything, write nothing, report damage\n"
    "  extract ARCHIVE [-C DIR] [PATH...]  extract all, or the named items at their full paths\n"
    "  cat     ARCHIVE PATH...             files' content, one after another, to standard output\n"
    "  export  ARCHIVE [-o FILE.tar|-] [PATH...]  the tree, or the named items, as a pax tar\n"
    "  mount   ARCHIVE MOUNTPOINT [-f]     the archive as a read-only file system (Linux, FUSE 3)\n"
    "  help    [COMMAND]                   this text, or a command's own\n"
    "\n"
    "Options (after the command, before or between the operands):\n"
    "      --password-file FILE  the password is the first line of FILE\n"
    "      --password-fd N       the password is the first line read from descriptor N\n"
    "      --exclude PATTERN     leave out the items PATTERN matches, and all below them\n"
    "                            (repeatable)\n"
    "      --wildcards-match-slash  '*', '?' and [...] match '/' too\n"
    "  -q, --quiet               no progress line, no listing of written items\n"
    "  -h, --help                help on the command\n"
    "      --version             the version\n"
    "Paths use '/' (or '\\') between names, relative to the archive's root; letter case of\n"
    "A-Z does not matter. A PATH may be a shell-style pattern: '*' any run of characters, '?'\n"
    "one character, [...] one of a set ([!...] one outside it; [*] a literal '*'); they do not\n"
    "match '/'. A pattern or path that names a folder takes everything below it; each item is\n"
    "taken once, in listing order (cat: in the order named). One that matches nothing is an\n"
    "error (exit code 2). --exclude patterns match the end of a path ('*.tmp', 'docs/old')\n"
    "unless they begin with '/'.\n"
    "\n"
    "ARCHIVE '-' reads the archive from standard input (not a terminal): it is copied to an\n"
    "unnamed temporary file in $TMPDIR (else /tmp), or to memory, since it is read out of order.\n"
    "The password then can not come from standard input.\n"
    "\n"
    "Password, in this order: --password-file or --password-fd, the environment variable\n"
    "SORVEL_PASSWORD (the least safe: other programs of the same user may read it), a prompt on\n"
    "the terminal (/dev/tty), else the first line of standard input. Never on the command line.\n"
    "\n"
    "Exit codes:\n"
    "  0  success\n"
    "  1  usage error\n"
    "  2  an item or a file named on the command line not found or unreadable\n"
    "  3  the archive not found, not a regular file, or unreadable\n"
    "  6  not an archive (format error)\n"
    "  7  unknown archive version\n"
    "  8  unsupported authentication type\n"
    "  9  incorrect password\n"
    "  10 the archive can not be opened\n"
    "  11 damaged items, or items that could not be written\n";

struct CommandHelp {
  std::string_view name;
  std::string_view text;
};

constexpr CommandHelp kCommandHelp[] = {
    {"list",
     "Usage: sorvel list [--json|--json-lines] ARCHIVE [PATH...]\n"
     "Lists the items, or the named items and everything below named folders: type (d or -),\n"
     "attributes (r read-only, h hidden, s system, a archive), size, modified time (local), path;\n"
     "then \"N files, M folders, B bytes\" (and \", L left out\" for items extraction leaves out,\n"
     "marked \"(left out: ...)\"). -q leaves that line out. A \"/\" within a name shows as \\x2F.\n"
     "      --json        one JSON document: {\"archive\", \"items\": [...], \"totals\"}; each item\n"
     "                    with path, names, type, size, attributes and readOnly, hidden, system,\n"
     "                    archive, created/modified/accessed (Unix seconds) and ...Utc (ISO 8601),\n"
     "                    first_block, damaged, and leftOut with the reason (see sorvel(1))\n"
     "      --json-lines  the item objects alone, one per line\n"},
    {"test",
     "Usage: sorvel test ARCHIVE [PATH...]\n"
     "Reads and decrypts every file, writes nothing, and reports damaged items and folders as\n"
     "extraction does. Ends with \"N files, M folders, B bytes: OK\", or the number of errors\n"
     "(exit code 11).\n"},
    {"extract",
     "Usage: sorvel extract [-C DIR] [-k] [-v] ARCHIVE [PATH...]\n"
     "Extracts everything, or the named items (a folder with everything below it), each at its\n"
     "full path below DIR, its folders made as needed. An existing file is replaced, a read-only\n"
     "one too, by a new file under its name; a folder in the way is an error.\n"
     "  -C, --directory DIR  the output folder, made if missing (its parent must exist;\n"
     "                       default: the current folder)\n"
     "  -k, --keep           leave existing files as they are; ends with the count of files\n"
     "                       written and kept\n"
     "      --overwrite      replace existing files (the default)\n"
     "  -v, --verbose        list each item as it is written, a kept file marked \"(kept)\"\n"},
    {"cat",
     "Usage: sorvel cat ARCHIVE PATH...\n"
     "Writes the content of the named files, one after another in the order named, to standard\n"
     "output. A folder, or a damaged file, is an error (exit code 11); the others are written.\n"},
    {"export",
     "Usage: sorvel export [-o FILE.tar|-] ARCHIVE [PATH...]\n"
     "Writes the whole tree, or the named items with everything below them, as a POSIX (pax)\n"
     "tar stream, folders first.\n"
     "  -o, --output FILE  the tar file; '-' is standard output (the default when it is not a\n"
     "                     terminal; a terminal is refused)\n"},
    {"mount", kMountHelp},
};

}  // namespace

bool printToolHelp(const std::string& topic) {
  if (topic.empty()) {
    std::fwrite(kOverview.data(), 1, kOverview.size(), stdout);
    return true;
  }
  for (const CommandHelp& help : kCommandHelp) {
    if (help.name == topic) {
      std::fwrite(help.text.data(), 1, help.text.size(), stdout);
      return true;
    }
  }
  return false;
}

void printToolVersion() { std::printf("sorvel %s\n", kProgramVersion); }

}  // namespace sorvel::tool

#pragma once
// `mount ARCHIVE MOUNTPOINT [-f] [-o OPTION,...] [--cache-size MiB] [--password-file FILE]`:
// the command line, the mount point's check, the password, opening the archive and handing it
// to the file system.
// Returns the exit code.
namespace sorvel::mount {

int runMountCommand(int argc, char** argv);

}  // namespace sorvel::mount

// The file system entry point, until it joins the sorvel tool as its mount command.
#include "mount/MountCommand.h"

int main(int argc, char** argv) { return sorvel::mount::runMountCommand(argc, argv); }

#include <cerrno>

#include "platform/OutputFolders.h"
#include "platform/win32/Win32Host.h"

namespace sorvel {
namespace {

bool makeFolderAt(const std::wstring& path) {
  return CreateDirectoryW(path.c_str(), nullptr) || win32::setErrnoFromLastError() == EEXIST;
}

}  // namespace

bool OutputFolders::makeFolder(const std::string& path) { return makeFolderAt(win32::wide(path)); }

// The parent is open and cannot be renamed meanwhile, so its path still leads to it.
bool OutputFolders::makeFolderIn(const DirectoryHandle& parent, const std::string& name) {
  return makeFolderAt(win32::joinPath(win32::wide(parent.location()), win32::wide(name)));
}

OutputFolders::InTheWay OutputFolders::inTheWay(const DirectoryHandle&, const std::string&, int error) {
  return error == ELOOP ? InTheWay::ReparsePoint : InTheWay::Nothing;
}

}  // namespace sorvel

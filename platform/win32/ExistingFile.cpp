#include "platform/ExistingFile.h"

#include "platform/win32/Win32Host.h"

namespace sorvel {

ExistingEntry existingEntry(const DirectoryHandle& folder, const std::string& name) {
  const std::wstring path = win32::joinPath(win32::wide(folder.location()), win32::wide(name));
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return ExistingEntry::Nothing;
  // A link (reparse point) is not followed: it stands there as a name of its own.
  const bool folderThere =
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
  return folderThere ? ExistingEntry::Folder : ExistingEntry::Other;
}

}  // namespace sorvel

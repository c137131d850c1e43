#pragma once
// What the Win32 implementations share: text in UTF-16 only at the Win32 calls, and Win32 error
// codes given to the rest of the program as errno values.
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/NativeHandle.h"

namespace sorvel::win32 {

// UTF-8 to UTF-16 for a Win32 call (ill-formed pieces become U+FFFD), and back.
std::wstring wide(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

// The errno value nearest to a Win32 error code.
int errnoFromWin32(DWORD error);
// Sets errno from GetLastError() and answers it.
int setErrnoFromLastError();

inline HANDLE toHandle(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }
inline NativeHandle fromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoHandle : reinterpret_cast<NativeHandle>(handle);
}

// An archive time (seconds from 1970) as a FILETIME (100 ns steps from 1601), clamped to its
// range.
FILETIME toFileTime(std::int64_t unixSeconds);

// `folder` and `name` joined by a backslash.
std::wstring joinPath(const std::wstring& folder, const std::wstring& name);

}  // namespace sorvel::win32

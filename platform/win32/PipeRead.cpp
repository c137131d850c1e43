#include "platform/PipeKeySource.h"
#include "platform/win32/Win32Host.h"

namespace sorvel {

PipeKeySource::ReadResult PipeKeySource::readByte(NativeHandle input, std::uint8_t& byte, int& error) {
  // Plain bytes: ReadFile does no text translation. A broken pipe is the end of the input.
  DWORD got = 0;
  if (!ReadFile(win32::toHandle(input), &byte, 1, &got, nullptr)) {
    const DWORD failure = GetLastError();
    if (failure == ERROR_BROKEN_PIPE || failure == ERROR_HANDLE_EOF) return ReadResult::End;
    error = win32::errnoFromWin32(failure);
    return ReadResult::Failed;
  }
  return got == 1 ? ReadResult::Byte : ReadResult::End;
}

}  // namespace sorvel

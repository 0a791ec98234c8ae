#include "common/BoundedRead.h"

#include <windows.h>

#include <algorithm>
#include <new>

#include "common/WideText_win32.h"

namespace {

class THandle {
public:
  explicit THandle(HANDLE Handle) : Handle(Handle) {}
  ~THandle() {
    if (Handle != INVALID_HANDLE_VALUE) CloseHandle(Handle);
  }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  HANDLE Handle;
};

// Paths past the classic length limit are opened in their long form, which
// takes a full path without "." and ".." (resolved here first).
std::wstring OpenablePath(const std::string& FileName) {
  std::wstring Path = WideFromUtf8(FileName);
  if (Path.size() < MAX_PATH - 12 || Path.compare(0, 4, L"\\\\?\\") == 0) return Path;
  const DWORD Needed = GetFullPathNameW(Path.c_str(), 0, nullptr, nullptr);
  if (Needed == 0) return Path;
  std::wstring Full(Needed, L'\0');
  const DWORD Length = GetFullPathNameW(Path.c_str(), Needed, &Full[0], nullptr);
  if (Length == 0 || Length >= Needed) return Path;
  Full.resize(Length);
  if (Full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + Full.substr(2);
  return L"\\\\?\\" + Full;
}

bool Refused(DWORD Error) {
  SetLastError(Error);
  return false;
}

}  // namespace

bool ReadBoundedFile(const std::string& Path, size_t Limit, std::string& Bytes) {
  try {
    // Sharing reading only: a file another process holds open for writing
    // (the server saving it) fails to open.
    THandle File(CreateFileW(OpenablePath(Path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (File.Handle == INVALID_HANDLE_VALUE) return false;
    if (GetFileType(File.Handle) != FILE_TYPE_DISK) return Refused(ERROR_INVALID_FUNCTION);

    // Too big: not read at all. Otherwise read straight into the result,
    // sized for the file and one byte more, which shows the end (or growth)
    // without a second buffer.
    LARGE_INTEGER Size;
    if (!GetFileSizeEx(File.Handle, &Size)) return false;
    if (Size.QuadPart < 0 || static_cast<unsigned long long>(Size.QuadPart) > Limit)
      return Refused(ERROR_FILE_TOO_LARGE);
    std::string Data(static_cast<size_t>(Size.QuadPart) + 1, '\0');
    size_t Held = 0;
    for (;;) {
      if (Held == Data.size()) {
        if (Held > Limit) return Refused(ERROR_FILE_TOO_LARGE);
        Data.resize(std::min(std::max<size_t>(Held * 2, 65536), Limit + 1));
      }
      const DWORD Piece = static_cast<DWORD>(std::min<size_t>(Data.size() - Held, 1 << 20));
      DWORD Got = 0;
      if (!ReadFile(File.Handle, &Data[Held], Piece, &Got, nullptr)) return false;
      if (Got == 0) break;
      Held += Got;
    }
    Data.resize(Held);
    Bytes = std::move(Data);
    return true;
  } catch (const std::bad_alloc&) {
    return Refused(ERROR_NOT_ENOUGH_MEMORY);  // a file too big to hold cannot be read
  }
}

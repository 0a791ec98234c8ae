// Configuration files on Windows: one read-only attempt that shares reading
// only, so it fails while the mail server holds the file open for writing.
#include "install/Orvane.h"

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

class TWin32ConfigFileSystem : public TConfigFileSystem {
public:
  bool ReadWholeFile(const std::string& FileName, std::string& Bytes) override {
    try {
      THandle File(CreateFileW(OpenablePath(FileName).c_str(), GENERIC_READ, FILE_SHARE_READ,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (File.Handle == INVALID_HANDLE_VALUE) return false;
      // A pipe or a device could hold the read up for ever; only disk files
      // are configuration files.
      if (GetFileType(File.Handle) != FILE_TYPE_DISK) return false;

      // Too big for a configuration file: not read at all. Otherwise read
      // straight into the result, sized for the file and one byte more,
      // which shows the end (or growth) without a second buffer.
      LARGE_INTEGER Size;
      if (!GetFileSizeEx(File.Handle, &Size) || Size.QuadPart < 0 ||
          static_cast<unsigned long long>(Size.QuadPart) > ConfigFileSizeLimit)
        return false;
      std::string Data(static_cast<size_t>(Size.QuadPart) + 1, '\0');
      size_t Held = 0;
      for (;;) {
        if (Held == Data.size()) {
          if (Held > ConfigFileSizeLimit) return false;
          Data.resize(std::min(std::max<size_t>(Held * 2, 65536), ConfigFileSizeLimit + 1));
        }
        const DWORD Piece = static_cast<DWORD>(std::min<size_t>(Data.size() - Held, 1 << 20));
        DWORD Got = 0;
        if (!ReadFile(File.Handle, &Data[Held], Piece, &Got, nullptr)) return false;
        if (Got == 0) break;
        Held += Got;
      }
      if (Held > ConfigFileSizeLimit) return false;
      Data.resize(Held);
      Bytes = std::move(Data);
      return true;
    } catch (const std::bad_alloc&) {
      return false;  // a file too big to hold is a file that cannot be read
    }
  }

  void Sleep(int32_t Milliseconds) override {
    if (Milliseconds > 0) ::Sleep(static_cast<DWORD>(Milliseconds));
  }
};

}  // namespace

TConfigFileSystem& SystemConfigFileSystem() {
  static TWin32ConfigFileSystem Files;
  return Files;
}

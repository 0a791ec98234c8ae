// The output file on Windows: a temporary file in the same folder, flushed,
// then MoveFileExW over the old one. Windows refuses to replace a file that
// another process has open (a collector reading it, without
// FILE_SHARE_DELETE), so the move is tried again while it is held, until the
// deadline.
#include "driver/OutputFile.h"

#include <windows.h>

#include <algorithm>

#include "census/GetConnections_win32.h"
#include "common/WideText_win32.h"
#include "driver/ProgramIo_win32.h"

namespace {

constexpr DWORD RetryMilliseconds = 50;

std::string ErrorText(DWORD Error) {
  const std::string Text = SystemErrorText(Error);
  return Text.empty() ? "System error " + std::to_string(Error) : Text;
}

bool IsSeparator(wchar_t Character) { return Character == L'\\' || Character == L'/'; }

// A drive and a separator (C:\), or a name of the network or the device
// space (\\server\share\..., \\?\C:\...). "C:name" and "\name" depend on the
// current drive and folder of whoever starts the program.
bool IsAbsolute(const std::wstring& Path) {
  if (Path.size() >= 3 && ((Path[0] >= L'A' && Path[0] <= L'Z') || (Path[0] >= L'a' && Path[0] <= L'z')) &&
      Path[1] == L':' && IsSeparator(Path[2]))
    return true;
  return Path.size() >= 3 && IsSeparator(Path[0]) && IsSeparator(Path[1]) && !IsSeparator(Path[2]);
}

// The folder part; a drive's root keeps its separator (C:\).
std::wstring FolderOf(const std::wstring& Path) {
  size_t Separator = Path.size();
  while (Separator > 0 && !IsSeparator(Path[Separator - 1])) --Separator;
  if (Separator == 3 && Path[1] == L':') return Path.substr(0, 3);
  return Path.substr(0, Separator > 0 ? Separator - 1 : 0);
}

bool HeldByAnother(DWORD Error) {
  return Error == ERROR_ACCESS_DENIED || Error == ERROR_SHARING_VIOLATION || Error == ERROR_LOCK_VIOLATION;
}

}  // namespace

std::string OutputPathProblem(const std::string& Path) {
  const std::wstring Wide = WideFromUtf8(Path);
  if (!IsAbsolute(Wide)) return "not an absolute path";
  const DWORD Attributes = GetFileAttributesW(Wide.c_str());
  if (IsSeparator(Wide.back()) ||
      (Attributes != INVALID_FILE_ATTRIBUTES && (Attributes & FILE_ATTRIBUTE_DIRECTORY)))
    return "it is a directory";
  const std::wstring Folder = FolderOf(Wide);
  const DWORD FolderAttributes = GetFileAttributesW(Folder.c_str());
  if (FolderAttributes == INVALID_FILE_ATTRIBUTES) return Utf8FromWide(Folder) + ": " + ErrorText(GetLastError());
  if (!(FolderAttributes & FILE_ATTRIBUTE_DIRECTORY)) return Utf8FromWide(Folder) + " is not a directory";
  return std::string();
}

std::string ReplaceFileContent(const std::string& Path, const std::string& Text,
                               std::chrono::steady_clock::time_point Deadline) {
  if (const std::string Problem = OutputPathProblem(Path); !Problem.empty()) return Problem;
  const std::wstring Target = WideFromUtf8(Path);
  // Beside the file, so that the move is a rename on one volume; a name of
  // this process's own, with a number where a stale one is in the way.
  const std::wstring Base = Target + L"." + std::to_wstring(GetCurrentProcessId());
  std::wstring Temporary;
  HANDLE File = INVALID_HANDLE_VALUE;
  for (int Attempt = 0; File == INVALID_HANDLE_VALUE; ++Attempt) {
    Temporary = Base + (Attempt ? L"." + std::to_wstring(Attempt) : std::wstring()) + L".tmp";
    File = CreateFileW(Temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (File == INVALID_HANDLE_VALUE) {
      const DWORD Error = GetLastError();
      if ((Error != ERROR_FILE_EXISTS && Error != ERROR_ALREADY_EXISTS) || Attempt >= 100) return ErrorText(Error);
    }
  }
  // Flushed before the move: after a crash the name holds the old content
  // or the whole new one.
  DWORD Error = 0;
  if (!WriteBytes(File, Text.data(), Text.size()) || !FlushFileBuffers(File)) {
    Error = GetLastError();
    if (Error == 0) Error = ERROR_WRITE_FAULT;
  }
  if (!CloseHandle(File) && Error == 0) Error = GetLastError();
  while (Error == 0 &&
         !MoveFileExW(Temporary.c_str(), Target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    Error = GetLastError();
    const auto Now = std::chrono::steady_clock::now();
    if (!HeldByAnother(Error) || Now >= Deadline) break;
    const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Now).count();
    Sleep(static_cast<DWORD>(std::min<long long>(Left, RetryMilliseconds)));
    Error = 0;
  }
  if (Error != 0) {
    DeleteFileW(Temporary.c_str());
    return ErrorText(Error);
  }
  return std::string();
}

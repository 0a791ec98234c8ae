// A scratch directory for tests on the real Windows file system, removed with
// all it holds when the test ends. Names are UTF-8 with backslashes.
#pragma once

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "common/WideText_win32.h"

class TTempDirectory {
public:
  TTempDirectory() {
    wchar_t Base[MAX_PATH + 1];
    const DWORD Length = GetTempPathW(MAX_PATH + 1, Base);
    if (Length == 0 || Length > MAX_PATH) throw std::runtime_error("GetTempPathW failed");
    static std::atomic<int> Serial{0};
    for (int Attempt = 0;; ++Attempt) {
      const std::wstring Candidate = std::wstring(Base, Length) + L"orvane-test-" +
                                     std::to_wstring(GetCurrentProcessId()) + L"-" +
                                     std::to_wstring(Serial++);
      if (CreateDirectoryW(Candidate.c_str(), nullptr)) {
        Path = Utf8FromWide(Candidate);
        break;
      }
      if (Attempt > 100) throw std::runtime_error("cannot create a scratch directory");
    }
  }
  ~TTempDirectory() {
    std::error_code Ignored;
    std::filesystem::remove_all(LongForm(Path), Ignored);
  }
  TTempDirectory(const TTempDirectory&) = delete;
  TTempDirectory& operator=(const TTempDirectory&) = delete;

  // The full name of a relative name inside the directory.
  std::string operator/(const std::string& Name) const { return Path + "\\" + Name; }

  // Writes Bytes to the relative name (directories are created) and gives
  // the full name.
  std::string Write(const std::string& Name, const std::string& Bytes) const {
    const std::string Full = *this / Name;
    MakeDirectories(Full.substr(0, Full.rfind('\\')));
    const HANDLE File = CreateFileW(LongForm(Full).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (File == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + Full);
    DWORD Written = 0;
    const bool Ok = WriteFile(File, Bytes.data(), static_cast<DWORD>(Bytes.size()), &Written,
                              nullptr) &&
                    Written == Bytes.size();
    CloseHandle(File);
    if (!Ok) throw std::runtime_error("cannot write " + Full);
    return Full;
  }

  static void MakeDirectories(const std::string& Full) {
    std::error_code Error;
    std::filesystem::create_directories(LongForm(Full), Error);
    if (Error) throw std::runtime_error("cannot create " + Full);
  }

  // The "\\?\" form, which is not limited to MAX_PATH characters.
  static std::wstring LongForm(const std::string& Full) { return L"\\\\?\\" + WideFromUtf8(Full); }

  std::string Path;
};

#include "driver/ProgramIo_win32.h"

#include <algorithm>

#include "cmdline/CommandLineParser.h"
#include "common/WideText_win32.h"

namespace {

// True when Line starts with Name, case ignored, and a blank or the end
// follows it.
bool StartsWithName(const wchar_t* Line, size_t LineLength, const std::wstring& Name) {
  if (Name.empty() || Name.size() > LineLength) return false;
  if (Name.size() < LineLength && Line[Name.size()] > L' ') return false;
  return CompareStringOrdinal(Line, static_cast<int>(Name.size()), Name.data(),
                              static_cast<int>(Name.size()), TRUE) == CSTR_EQUAL;
}

// The length of the program's own unquoted path at the start of the line, 0
// when the line doesn't start with it. Windows finds a program started by an
// unquoted path with blanks and hands it the line verbatim, so the blanks
// must not split the program name.
size_t OwnPathLength(const wchar_t* Line, size_t LineLength, const std::wstring& OwnPath) {
  if (StartsWithName(Line, LineLength, OwnPath)) return OwnPath.size();
  constexpr size_t Extension = 4;  // ".exe"
  if (OwnPath.size() > Extension &&
      CompareStringOrdinal(OwnPath.data() + OwnPath.size() - Extension, Extension, L".exe",
                           Extension, TRUE) == CSTR_EQUAL) {
    const std::wstring Bare = OwnPath.substr(0, OwnPath.size() - Extension);
    if (StartsWithName(Line, LineLength, Bare)) return Bare.size();
  }
  return 0;
}

}  // namespace

std::vector<std::string> ProgramArguments(const wchar_t* CommandLine, const std::wstring& OwnPath) {
  const size_t Length = CommandLine ? wcslen(CommandLine) : 0;
  std::string Line = CommandLine ? Utf8FromWide(CommandLine, Length) : "";
  // The own path stands for the program name: an empty quoted name in its
  // place keeps the splitter's rules for the rest.
  if (const size_t Skipped = Length ? OwnPathLength(CommandLine, Length, OwnPath) : 0)
    Line = "\"\"" + Utf8FromWide(CommandLine + Skipped, Length - Skipped);
  std::vector<std::string> Arguments = SplitCommandLine(Line);
  if (!Arguments.empty()) Arguments.erase(Arguments.begin());
  return Arguments;
}

void RestrictLibrarySearch() {
  // Only where the system has it (from Windows 8, and 7 or Vista updated):
  // libraries loaded later come from the system folder alone, never from the
  // program's folder or the current directory.
  using TSetDefault = BOOL(WINAPI*)(DWORD);
  const HMODULE Kernel = GetModuleHandleW(L"kernel32.dll");
  if (Kernel == nullptr) return;
  const auto SetDefault = reinterpret_cast<TSetDefault>(
      reinterpret_cast<void (*)()>(GetProcAddress(Kernel, "SetDefaultDllDirectories")));
  if (SetDefault) SetDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

std::string OwnExecutablePath() {
  // Paths may exceed MAX_PATH; the system cuts the name short when the
  // buffer is too small, so grow it until the name fits.
  std::wstring Path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD Length = GetModuleFileNameW(nullptr, &Path[0], static_cast<DWORD>(Path.size()));
    if (Length == 0) return {};
    if (Length < Path.size()) return Utf8FromWide(Path.data(), Length);
    if (Path.size() >= 65536) return {};
    Path.resize(Path.size() * 2);
  }
}

namespace {

std::wstring WithCrLf(const std::string& Text) {
  const std::wstring Wide = WideFromUtf8(Text);
  std::wstring Lines;
  Lines.reserve(Wide.size() + Wide.size() / 32 + 2);
  for (size_t i = 0; i < Wide.size(); ++i) {
    if (Wide[i] == L'\n' && (i == 0 || Wide[i - 1] != L'\r')) Lines += L'\r';
    Lines += Wide[i];
  }
  return Lines;
}

}  // namespace

std::string OutputBytes(const std::string& Text, UINT CodePage) {
  const std::wstring Wide = WithCrLf(Text);
  if (Wide.empty()) return {};
  // Output stays far below the conversion's int limits; characters the code
  // page lacks become its default character.
  const int Units = static_cast<int>(Wide.size());
  const int Size = WideCharToMultiByte(CodePage, 0, Wide.data(), Units, nullptr, 0, nullptr, nullptr);
  if (Size <= 0) return {};
  std::string Bytes(static_cast<size_t>(Size), '\0');
  WideCharToMultiByte(CodePage, 0, Wide.data(), Units, &Bytes[0], Size, nullptr, nullptr);
  return Bytes;
}

void WriteStandardOutput(const std::string& Text) {
  const HANDLE Out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (Out == nullptr || Out == INVALID_HANDLE_VALUE) return;
  DWORD Mode;
  if (GetConsoleMode(Out, &Mode)) {
    const std::wstring Wide = WithCrLf(Text);
    size_t Done = 0;
    while (Done < Wide.size()) {
      DWORD Written = 0;
      const DWORD Chunk = static_cast<DWORD>(std::min<size_t>(Wide.size() - Done, 16384));
      if (!WriteConsoleW(Out, Wide.data() + Done, Chunk, &Written, nullptr) || Written == 0) return;
      Done += Written;
    }
    return;
  }
  // A pipe or a file: bytes as they are, with nothing translated on the way.
  const std::string Bytes = OutputBytes(Text);
  size_t Done = 0;
  while (Done < Bytes.size()) {
    DWORD Written = 0;
    const DWORD Chunk = static_cast<DWORD>(std::min<size_t>(Bytes.size() - Done, 1 << 20));
    // A reader that went away ends the writing; the exit status still counts.
    if (!WriteFile(Out, Bytes.data() + Done, Chunk, &Written, nullptr) || Written == 0) return;
    Done += Written;
  }
}

#include "driver/ProgramIo_win32.h"

#include <algorithm>

#include "cmdline/CommandLineParser.h"
#include "common/FullPath_win32.h"
#include "common/SystemFunction_win32.h"
#include "common/WideText_win32.h"

namespace {

// The blanks that end an unquoted program name, for Windows and the C runtime.
bool IsBlank(wchar_t Character) { return Character == L' ' || Character == L'\t'; }

bool SamePath(const std::wstring& One, const std::wstring& Other) {
  return !One.empty() && One.size() == Other.size() &&
         CompareStringOrdinal(One.data(), static_cast<int>(One.size()), Other.data(),
                              static_cast<int>(Other.size()), TRUE) == CSTR_EQUAL;
}

// Whether the unquoted name Candidate, completed as Windows completes a
// program name, is the program's own file OwnFullPath (".exe" may be left
// off, as Windows adds it).
bool NamesOwnPath(const std::wstring& Candidate, const std::wstring& OwnFullPath) {
  const std::wstring Full = FullPathName(Candidate);
  return SamePath(Full, OwnFullPath) || (!Full.empty() && SamePath(Full + L".exe", OwnFullPath));
}

// The length of the unquoted program name at the start of the line when it
// names the program's own file, 0 when no prefix does. Windows starts a
// program named by an unquoted path with blanks by trying each prefix that
// ends before a blank (then the whole line), shortest first, and hands the
// program the line verbatim, so the blanks within the name must not split
// it. A quote ends the search: it is no part of an unquoted name.
size_t OwnPathLength(const std::wstring& Line, const std::wstring& OwnPath) {
  if (Line.empty() || Line[0] == L'"') return 0;
  const std::wstring Own = FullPathName(OwnPath);
  if (Own.empty()) return 0;
  // Only a prefix that ends in the program's file name can name its file:
  // the others are passed over without asking the system.
  const std::wstring FileName = Own.substr(Own.find_last_of(L"\\/") + 1);
  const auto EndsInFileName = [&FileName, &Line](size_t End) {
    const size_t Start = Line.find_last_of(L"\\/:", End - 1);
    const size_t From = Start == std::wstring::npos ? 0 : Start + 1;
    const std::wstring Last = Line.substr(From, End - From);
    return SamePath(Last, FileName) ||
           (FileName.size() > 4 && SamePath(Last + L".exe", FileName));
  };
  for (size_t End = 1; End <= Line.size(); ++End) {
    if (Line[End - 1] == L'"') return 0;
    const bool Ends = End == Line.size() || IsBlank(Line[End]);
    if (Ends && !IsBlank(Line[End - 1]) && EndsInFileName(End) &&
        NamesOwnPath(Line.substr(0, End), Own))
      return End;
  }
  return 0;
}

}  // namespace

std::vector<std::string> ProgramArguments(const wchar_t* CommandLine, const std::wstring& OwnPath) {
  const std::wstring Wide = CommandLine ? std::wstring(CommandLine) : std::wstring();
  std::string Line = Utf8FromWide(Wide);
  // A line that starts with a blank has an empty program name: what follows
  // the blanks is the first argument, as CommandLineToArgvW and the C
  // runtime have it. An empty quoted name in its place keeps the splitter's
  // rules for the rest; so does one in place of the program's own path.
  if (!Wide.empty() && IsBlank(Wide[0]))
    Line = "\"\"" + Line;
  else if (const size_t Skipped = OwnPathLength(Wide, OwnPath))
    Line = "\"\"" + Utf8FromWide(Wide.data() + Skipped, Wide.size() - Skipped);
  std::vector<std::string> Arguments = SplitCommandLine(Line);
  if (!Arguments.empty()) Arguments.erase(Arguments.begin());
  return Arguments;
}

void RestrictLibrarySearch() {
  // Only where the system has it (from Windows 8, and 7 or Vista updated):
  // libraries loaded later come from the system folder alone, never from the
  // program's folder or the current directory.
  using TSetDefault = BOOL(WINAPI*)(DWORD);
  if (const auto SetDefault = Lookup<TSetDefault>(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories"))
    SetDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void KeepSystemErrorDialogsAway() {
  // Reading the mode without changing it takes GetErrorMode (Vista on);
  // before it, setting a mode is how the current one is read.
  using TGetErrorMode = UINT(WINAPI*)();
  const auto GetMode = Lookup<TGetErrorMode>(GetModuleHandleW(L"kernel32.dll"), "GetErrorMode");
  const UINT Current = GetMode ? GetMode() : SetErrorMode(0);
  SetErrorMode(Current | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
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

// The text's line ends as they go out: CR LF after a single line, as
// Windows programs end theirs; LF between the lines of longer text, which
// reaches a monitoring system that splits on CR and on LF alike (Icinga 2)
// with no empty line between them.
std::wstring WithLineEnds(const std::string& Text) {
  const std::wstring Wide = WideFromUtf8(Text);
  const size_t FirstEnd = Wide.find(L'\n');
  std::wstring Lines;
  if (FirstEnd == std::wstring::npos) return Wide;
  if (FirstEnd + 1 == Wide.size()) {
    Lines = Wide;
    if (FirstEnd == 0 || Wide[FirstEnd - 1] != L'\r') Lines.insert(FirstEnd, 1, L'\r');
    return Lines;
  }
  Lines.reserve(Wide.size());
  for (size_t i = 0; i < Wide.size(); ++i)
    if (!(Wide[i] == L'\r' && i + 1 < Wide.size() && Wide[i + 1] == L'\n')) Lines += Wide[i];
  return Lines;
}

std::string InCodePage(const std::wstring& Wide, UINT CodePage) {
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

// Writes all of Size units through Write, which takes at most Chunk units at
// a time; false when a write failed or wrote nothing (for standard output: a
// reader that went away, and the exit status still counts).
template <typename TUnit, typename TWrite>
bool WriteAllUnits(const TUnit* Text, size_t Size, size_t Chunk, TWrite Write) {
  size_t Done = 0;
  while (Done < Size) {
    DWORD Written = 0;
    const DWORD Part = static_cast<DWORD>(std::min(Size - Done, Chunk));
    if (!Write(Text + Done, Part, &Written) || Written == 0) return false;
    Done += Written;
  }
  return true;
}

bool IsConsole(HANDLE Out) {
  DWORD Mode;
  return GetConsoleMode(Out, &Mode) != 0;
}

HANDLE StandardOutput() {
  const HANDLE Out = GetStdHandle(STD_OUTPUT_HANDLE);
  return Out == INVALID_HANDLE_VALUE ? nullptr : Out;
}

void WriteConsoleText(HANDLE Out, const wchar_t* Text, size_t Size) {
  WriteAllUnits(Text, Size, 16384, [Out](const wchar_t* Part, DWORD Units, DWORD* Written) {
    return WriteConsoleW(Out, Part, Units, Written, nullptr);
  });
}

}  // namespace

bool WriteBytes(HANDLE Out, const char* Bytes, size_t Size) {
  // A pipe or a file: bytes as they are, with nothing translated on the way.
  return WriteAllUnits(Bytes, Size, size_t(1) << 20, [Out](const char* Part, DWORD Units, DWORD* Written) {
    return WriteFile(Out, Part, Units, Written, nullptr);
  });
}

std::string OutputBytes(const std::string& Text, UINT CodePage) {
  return InCodePage(WithLineEnds(Text), CodePage);
}

TPreparedOutput PrepareOutput(const std::string& Text, bool Verbatim) {
  TPreparedOutput Output;
  if (Verbatim) {
    Output.Bytes = Text;
    Output.Console = WideFromUtf8(Text);
  } else {
    Output.Console = WithLineEnds(Text);
    Output.Bytes = InCodePage(Output.Console, CP_ACP);
  }
  return Output;
}

void WritePreparedOutput(const TPreparedOutput& Output) noexcept {
  const HANDLE Out = StandardOutput();
  if (Out == nullptr) return;
  if (IsConsole(Out))
    WriteConsoleText(Out, Output.Console.data(), Output.Console.size());
  else
    WriteBytes(Out, Output.Bytes.data(), Output.Bytes.size());
}

void WriteStandardOutput(const std::string& Text, bool Verbatim) {
  WritePreparedOutput(PrepareOutput(Text, Verbatim));
}

void WriteAsciiLine(const char* Line) noexcept {
  const HANDLE Out = StandardOutput();
  if (Out == nullptr) return;
  size_t Length = 0;
  while (Line[Length] != '\0' && Line[Length] != '\n') ++Length;
  static const char CrLf[] = "\r\n";
  if (IsConsole(Out)) {
    // The console takes ASCII in any code page.
    const auto Write = [Out](const char* Part, DWORD Units, DWORD* Written) {
      return WriteConsoleA(Out, Part, Units, Written, nullptr);
    };
    WriteAllUnits(Line, Length, 16384, Write);
    WriteAllUnits(CrLf, 2, 2, Write);
  } else {
    WriteBytes(Out, Line, Length);
    WriteBytes(Out, CrLf, 2);
  }
}

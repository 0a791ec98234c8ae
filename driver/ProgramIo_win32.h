// The program's exchange with Windows: its arguments from the command line
// as the system holds it, its own path, and its output.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The arguments after the program name, split from the whole command line
// by the program's own rules (quotes, no escape character), so that a quoted
// directory ending in a backslash stays as typed. A line that starts with a
// blank has an empty program name, so that its first word is an argument (as
// CommandLineToArgvW and the C runtime split it). A line that starts with an
// unquoted name of the program's own file OwnPath, blanks and all, has that
// name as its program name: Windows tries each prefix up to a blank,
// shortest first, and the first that names the file (completed from the
// working directory, "/" or "\", "." and "..", doubled separators; case
// ignored; ".exe" may be left off) is the one.
std::vector<std::string> ProgramArguments(const wchar_t* CommandLine,
                                          const std::wstring& OwnPath = {});

// Restricts the libraries loaded from now on to the system folder, where the
// system can (SetDefaultDllDirectories).
void RestrictLibrarySearch();

// Keeps the system's error boxes away (a drive that is not ready, a file that
// cannot be opened): the failing call fails instead, and the run answers.
// The other bits of the error mode stay.
void KeepSystemErrorDialogsAway();

// The full path of the running program's executable, however long.
std::string OwnExecutablePath();

// Writes all of the bytes to a file or a pipe, in chunks the system takes;
// false when a write failed (GetLastError says why) or wrote nothing.
bool WriteBytes(HANDLE Out, const char* Bytes, size_t Size);

// Output text (UTF-8, lines ended by "\n") as bytes in the given code page.
// A single line ends with CR LF, as Windows programs end theirs; text of more
// lines has LF line ends, so that a monitoring system that splits on CR and
// on LF alike (Icinga 2) gets no empty line between them.
std::string OutputBytes(const std::string& Text, UINT CodePage = CP_ACP);

// Output made ready to be written: the bytes for a pipe or a file and the
// text for a console.
struct TPreparedOutput {
  std::string Bytes;
  std::wstring Console;
};

// Text as OutputBytes makes it (ANSI code page) and the same as UTF-16 for a
// console. Verbatim text (UTF-8 with LF line ends, the machine formats) goes
// to a pipe or a file as the bytes it is.
TPreparedOutput PrepareOutput(const std::string& Text, bool Verbatim = false);

// Writes prepared output to standard output: a console gets the UTF-16 text
// (which shows every character), a pipe or a file the bytes. Allocates
// nothing.
void WritePreparedOutput(const TPreparedOutput& Output) noexcept;

// PrepareOutput, then WritePreparedOutput.
void WriteStandardOutput(const std::string& Text, bool Verbatim = false);

// One line of ASCII text (up to its "\n" or its end), ended by CR LF; for
// the answers that must go out when nothing else can be had. Allocates
// nothing.
void WriteAsciiLine(const char* Line) noexcept;

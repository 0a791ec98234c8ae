// The program's exchange with Windows: its arguments from the command line
// as the system holds it, its own path, and its output.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The arguments after the program name, split from the whole command line
// by the program's own rules (quotes, no escape character), so that a quoted
// directory ending in a backslash stays as typed. A line that starts with
// the program's own full path OwnPath unquoted (case ignored, ".exe" may be
// left off), then a blank or the end, has exactly that path as its program
// name, blanks and all.
std::vector<std::string> ProgramArguments(const wchar_t* CommandLine,
                                          const std::wstring& OwnPath = {});

// Restricts the libraries loaded from now on to the system folder, where the
// system can (SetDefaultDllDirectories).
void RestrictLibrarySearch();

// The full path of the running program's executable, however long.
std::string OwnExecutablePath();

// Output text (UTF-8, lines ended by "\n") as bytes in the given code page
// with lines ended by CR LF.
std::string OutputBytes(const std::string& Text, UINT CodePage = CP_ACP);

// Writes the output to standard output: to a console as UTF-16 (which shows
// every character), elsewhere as bytes in the ANSI code page.
void WriteStandardOutput(const std::string& Text);

// Starts a program as Windows starts it for an agent: CreateProcessW with the
// application's full path and a command line handed over exactly as written
// (Wine re-quotes a line only when no application is named).
//   run_verbatim <application> <file holding the command line, UTF-8> <folder to run in>
// Ends with the program's exit status; 255 when it could not be started.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::wstring Wide(const std::string& Text) {
  if (Text.empty()) return {};
  const int Size = MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
  std::wstring Result(static_cast<size_t>(Size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), &Result[0], Size);
  return Result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: run_verbatim <application> <line file> <folder>\n");
    return 255;
  }
  std::string Line;
  if (FILE* File = std::fopen(argv[2], "rb")) {
    char Buffer[4096];
    size_t Got;
    while ((Got = std::fread(Buffer, 1, sizeof Buffer, File)) > 0) Line.append(Buffer, Got);
    std::fclose(File);
  }
  while (!Line.empty() && (Line.back() == '\n' || Line.back() == '\r')) Line.pop_back();
  std::wstring CommandLine = Wide(Line);
  STARTUPINFOW Startup = {};
  Startup.cb = sizeof Startup;
  PROCESS_INFORMATION Process = {};
  if (!CreateProcessW(Wide(argv[1]).c_str(), &CommandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                      Wide(argv[3]).c_str(), &Startup, &Process)) {
    std::fprintf(stderr, "run_verbatim: CreateProcessW failed: %lu\n", GetLastError());
    return 255;
  }
  WaitForSingleObject(Process.hProcess, INFINITE);
  DWORD Status = 255;
  GetExitCodeProcess(Process.hProcess, &Status);
  CloseHandle(Process.hThread);
  CloseHandle(Process.hProcess);
  return static_cast<int>(Status);
}

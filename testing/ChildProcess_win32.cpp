#include "testing/ChildProcess.h"

#include <windows.h>

#include <stdexcept>
#include <thread>

#include "common/WideText_win32.h"
#include "testing/ChildProcess_win32.h"

namespace {

// One anonymous pipe; the child inherits one end, this process keeps the other.
struct TPipe {
  HANDLE Read = nullptr, Write = nullptr;
  explicit TPipe(bool ChildReads) {
    SECURITY_ATTRIBUTES Inherit = {sizeof Inherit, nullptr, TRUE};
    if (!CreatePipe(&Read, &Write, &Inherit, 0) ||
        !SetHandleInformation(ChildReads ? Write : Read, HANDLE_FLAG_INHERIT, 0))
      throw std::runtime_error("CreatePipe failed");
  }
  ~TPipe() {
    Close(Read);
    Close(Write);
  }
  static void Close(HANDLE& Handle) {
    if (Handle) CloseHandle(Handle);
    Handle = nullptr;
  }
  // Everything until the writers are gone.
  std::string Drain() {
    std::string Text;
    char Buffer[4096];
    DWORD Got;
    while (ReadFile(Read, Buffer, sizeof Buffer, &Got, nullptr) && Got > 0) Text.append(Buffer, Got);
    return Text;
  }
};

// The program's quoted name, then the argument text as it stands.
std::wstring CommandLine(const std::string& Program, const std::string& ArgumentText) {
  return WideFromUtf8("\"" + Program + "\" " + ArgumentText);
}

std::wstring CommandLine(const std::string& Program, const std::vector<std::string>& Arguments) {
  std::string Text;
  for (const std::string& Argument : Arguments) {
    if (Argument.find('"') != std::string::npos)
      throw std::invalid_argument("an argument holding a quote: " + Argument);
    const bool Quoted = Argument.empty() || Argument.find_first_of(" \t") != std::string::npos;
    Text += (Text.empty() ? "" : " ") + (Quoted ? "\"" + Argument + "\"" : Argument);
  }
  return CommandLine(Program, Text);
}

// The environment block for CreateProcessW: the inherited entries with the
// given ones in place of their namesakes.
std::wstring EnvironmentBlock(const std::vector<std::string>& Additions) {
  std::vector<std::string> Inherited;
  if (wchar_t* Strings = GetEnvironmentStringsW()) {
    for (const wchar_t* Entry = Strings; *Entry; Entry += wcslen(Entry) + 1)
      Inherited.push_back(Utf8FromWide(Entry, wcslen(Entry)));
    FreeEnvironmentStringsW(Strings);
  }
  std::wstring Block;
  for (const std::string& Entry : MergedEnvironment(Inherited, Additions)) {
    Block += WideFromUtf8(Entry);
    Block += L'\0';
  }
  Block += L'\0';
  return Block;
}

PROCESS_INFORMATION Start(std::wstring Line, HANDLE Input, HANDLE Output, HANDLE Error,
                          std::wstring* Environment, const std::string& WorkingDirectory) {
  STARTUPINFOW Startup = {};
  Startup.cb = sizeof Startup;
  Startup.dwFlags = STARTF_USESTDHANDLES;
  Startup.hStdInput = Input;
  Startup.hStdOutput = Output;
  Startup.hStdError = Error;
  const std::wstring Directory = WideFromUtf8(WorkingDirectory);
  PROCESS_INFORMATION Process = {};
  if (!CreateProcessW(nullptr, &Line[0], nullptr, nullptr, TRUE,
                      CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT,
                      Environment ? &(*Environment)[0] : nullptr,
                      Directory.empty() ? nullptr : Directory.c_str(), &Startup, &Process))
    throw std::runtime_error("cannot start " + Utf8FromWide(Line) + ": error " +
                             std::to_string(GetLastError()));
  CloseHandle(Process.hThread);
  return Process;
}

TCommandResult Run(const std::wstring& Line, const std::vector<std::string>& Environment,
                   bool CloseStdout, const std::string& WorkingDirectory) {
  TCommandResult Result;
  TPipe Out(false), Err(false);
  std::wstring Block = EnvironmentBlock(Environment);
  const PROCESS_INFORMATION Process =
      Start(Line, nullptr, Out.Write, Err.Write, &Block, WorkingDirectory);
  TPipe::Close(Out.Write);
  TPipe::Close(Err.Write);
  if (CloseStdout) TPipe::Close(Out.Read);
  std::thread ErrReader([&] { Result.Err = Err.Drain(); });
  std::thread OutReader([&] {
    if (Out.Read) Result.Out = Out.Drain();
  });
  bool Ended = WaitForSingleObject(Process.hProcess, 60000) == WAIT_OBJECT_0;
  if (!Ended) {
    TerminateProcess(Process.hProcess, 99);
    WaitForSingleObject(Process.hProcess, INFINITE);
  }
  DWORD Status = 0;
  GetExitCodeProcess(Process.hProcess, &Status);
  OutReader.join();
  ErrReader.join();
  CloseHandle(Process.hProcess);
  if (Ended) Result.ExitStatus = static_cast<int>(Status);
  return Result;
}

}  // namespace

TCommandResult RunCommand(const std::string& Program, const std::vector<std::string>& Arguments,
                          const std::vector<std::string>& Environment, bool CloseStdout) {
  return Run(CommandLine(Program, Arguments), Environment, CloseStdout, "");
}

TCommandResult RunCommandLine(const std::string& Program, const std::string& ArgumentText,
                              const std::string& WorkingDirectory) {
  return Run(CommandLine(Program, ArgumentText), {}, false, WorkingDirectory);
}

TChildProcess::TChildProcess(const std::string& Program, const std::vector<std::string>& Arguments) {
  TPipe In(true), Out(false);
  const PROCESS_INFORMATION Started = Start(CommandLine(Program, Arguments), In.Read, Out.Write,
                                            GetStdHandle(STD_ERROR_HANDLE), nullptr, "");
  ChildPid = static_cast<int>(Started.dwProcessId);
  Process = reinterpret_cast<std::intptr_t>(Started.hProcess);
  Input = reinterpret_cast<std::intptr_t>(In.Write);
  Output = reinterpret_cast<std::intptr_t>(Out.Read);
  In.Write = Out.Read = nullptr;  // kept by this object
}

TChildProcess::~TChildProcess() {
  CloseHandle(reinterpret_cast<HANDLE>(Input));  // the child ends when its input does
  CloseHandle(reinterpret_cast<HANDLE>(Output));
  const HANDLE Child = reinterpret_cast<HANDLE>(Process);
  if (WaitForSingleObject(Child, 5000) != WAIT_OBJECT_0) {
    TerminateProcess(Child, 99);
    WaitForSingleObject(Child, INFINITE);
  }
  CloseHandle(Child);
}

bool TChildProcess::ReadMore(int TimeoutMs) {
  // Anonymous pipes have no waiting read with a time limit: look, then read.
  const HANDLE Pipe = reinterpret_cast<HANDLE>(Output);
  const DWORD Until = GetTickCount() + static_cast<DWORD>(TimeoutMs);
  for (;;) {
    DWORD Available = 0;
    if (!PeekNamedPipe(Pipe, nullptr, 0, nullptr, &Available, nullptr)) return false;
    if (Available > 0) break;
    if (static_cast<int>(Until - GetTickCount()) <= 0) return true;
    Sleep(10);
  }
  char Buffer[4096];
  DWORD Got = 0;
  if (!ReadFile(Pipe, Buffer, sizeof Buffer, &Got, nullptr) || Got == 0) return false;
  Pending.append(Buffer, Got);
  return true;
}

// The output file on Linux: a temporary file in the same directory, then
// rename(2), which replaces the name in one step even while readers have the
// old file open (they keep reading the old one).
#include "driver/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "common/FileDescriptor_linux.h"

namespace {

std::string ErrorText(int Error) { return std::system_category().message(Error); }

// The directory part, "/" for a file in the root.
std::string DirectoryOf(const std::string& Path) {
  const size_t Slash = Path.rfind('/');
  return Slash == 0 ? "/" : Path.substr(0, Slash);
}

}  // namespace

std::string OutputPathProblem(const std::string& Path) {
  if (Path.empty() || Path[0] != '/') return "not an absolute path";
  struct stat Info;
  if (Path.back() == '/' || (stat(Path.c_str(), &Info) == 0 && S_ISDIR(Info.st_mode)))
    return "it is a directory";
  const std::string Directory = DirectoryOf(Path);
  if (stat(Directory.c_str(), &Info) != 0) return Directory + ": " + ErrorText(errno);
  if (!S_ISDIR(Info.st_mode)) return Directory + " is not a directory";
  return std::string();
}

std::string ReplaceFileContent(const std::string& Path, const std::string& Text,
                               std::chrono::steady_clock::time_point) {
  if (const std::string Problem = OutputPathProblem(Path); !Problem.empty()) return Problem;
  // Beside the file, so that the rename stays on one file system; a name of
  // this process's own, with a number where a stale one is in the way.
  const std::string Base = Path + '.' + std::to_string(getpid());
  std::string Temporary;
  int Fd = -1;
  for (int Attempt = 0; Fd < 0; ++Attempt) {
    Temporary = Base + (Attempt ? '.' + std::to_string(Attempt) : std::string()) + ".tmp";
    // Readable by the collector, which seldom runs as the check's user.
    Fd = open(Temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (Fd < 0 && (errno != EEXIST || Attempt >= 100)) return ErrorText(errno);
  }
  // Flushed before the rename: after a crash the name holds the old
  // content or the whole new one.
  int Error = WriteWhole(Fd, Text.data(), Text.size());
  if (Error == 0 && fsync(Fd) != 0) Error = errno;
  if (close(Fd) != 0 && Error == 0) Error = errno;
  if (Error == 0 && rename(Temporary.c_str(), Path.c_str()) != 0) Error = errno;
  if (Error != 0) {
    unlink(Temporary.c_str());
    return ErrorText(Error);
  }
  // The new name itself reaches the disk with its directory.
  const TFileDescriptor Directory(open(DirectoryOf(Path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (Directory.Fd >= 0) fsync(Directory.Fd);
  return std::string();
}

#include "common/BoundedRead_linux.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/FileDescriptor_linux.h"

int OpenRegularFile(const std::string& Path) {
  TFileDescriptor file(open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (file.Fd < 0) return -1;
  struct stat info;
  if (fstat(file.Fd, &info) != 0) return -1;
  if (!S_ISREG(info.st_mode)) {
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return -1;
  }
  const int fd = file.Fd;
  file.Fd = -1;  // the caller's now
  return fd;
}

bool ReadRegularFile(int Fd, size_t Limit, std::string& Bytes) {
  struct stat info;
  if (fstat(Fd, &info) != 0) return false;
  if (info.st_size < 0 || static_cast<unsigned long long>(info.st_size) > Limit) {
    errno = EFBIG;
    return false;
  }
  // Read straight into the result: sized for the whole file and one byte
  // more, which shows the end (or growth) without a second buffer. Files
  // that report no size (/proc) grow by doubling up to one byte past the
  // limit.
  constexpr size_t FirstPiece = 64 * 1024;
  const size_t size = static_cast<size_t>(info.st_size);
  std::string data(std::min(size > 0 ? size + 1 : FirstPiece, Limit + 1), '\0');
  size_t held = 0;
  for (;;) {
    if (held == data.size()) {
      if (held > Limit) {
        errno = EFBIG;
        return false;
      }
      data.resize(std::min(held * 2, Limit + 1));
    }
    const ssize_t got = read(Fd, &data[held], data.size() - held);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    held += static_cast<size_t>(got);
  }
  data.resize(held);
  Bytes = std::move(data);
  return true;
}

bool ReadBoundedFile(const std::string& Path, size_t Limit, std::string& Bytes) {
  TFileDescriptor file(OpenRegularFile(Path));
  return file.Fd >= 0 && ReadRegularFile(file.Fd, Limit, Bytes);
}

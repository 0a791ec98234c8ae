#include "install/BoundedRead_linux.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

bool ReadRegularFile(int Fd, size_t Limit, std::string& Bytes) {
  struct stat info;
  if (fstat(Fd, &info) != 0) return false;
  if (!S_ISREG(info.st_mode)) {
    errno = EINVAL;
    return false;
  }
  if (info.st_size < 0 || static_cast<unsigned long long>(info.st_size) > Limit) {
    errno = EFBIG;
    return false;
  }
  // Read straight into the result: sized for the whole file and one byte
  // more, which shows the end (or growth) without a second buffer. Files
  // that report no size (/proc) grow by doubling up to one byte past the
  // limit.
  constexpr size_t FirstPiece = 64 * 1024;
  std::string data;
  data.resize(std::min(info.st_size > 0 ? static_cast<size_t>(info.st_size) + 1 : FirstPiece,
                       Limit + 1));
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
  if (held > Limit) {
    errno = EFBIG;
    return false;
  }
  data.resize(held);
  Bytes = std::move(data);
  return true;
}

// A file descriptor closed on every way out of its scope, and the writing
// of a whole buffer to one.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>

class TFileDescriptor {
public:
  explicit TFileDescriptor(int Fd) : Fd(Fd) {}
  ~TFileDescriptor() {
    if (Fd >= 0) close(Fd);
  }
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;
  int Fd;
};

// Writes all Size bytes, riding over interrupted and partial writes; 0, or
// the errno that ended the writing.
inline int WriteWhole(int Fd, const char* Data, size_t Size) {
  size_t Done = 0;
  while (Done < Size) {
    const ssize_t Written = write(Fd, Data + Done, Size - Done);
    if (Written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    Done += static_cast<size_t>(Written);
  }
  return 0;
}

// A file descriptor closed on every way out of its scope.
#pragma once

#include <unistd.h>

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

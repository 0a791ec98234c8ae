// Configuration files on Linux: a read-only, never blocking attempt that fails
// while another process holds a write lock, as the server's writer would.
#include "install/Orvane.h"

#include <cerrno>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "common/BoundedRead_linux.h"
#include "common/FileDescriptor_linux.h"

namespace {

// True when some other process holds an fcntl write lock on any part of the
// file: asking for a whole-file read lock reports the conflicting one, be it
// a classic or an open-file-description lock, since the two kinds conflict.
bool WriteLocked(int fd) {
  struct flock probe = {};
  probe.l_type = F_RDLCK;
  probe.l_whence = SEEK_SET;
  return fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

class TLinuxConfigFileSystem : public TConfigFileSystem {
public:
  bool ReadWholeFile(const std::string& FileName, std::string& Bytes) override {
    // Names are formed the Windows way ("App\..\Lumicourt\Lumicourt.ini").
    std::string path = FileName;
    for (char& c : path)
      if (c == '\\') c = '/';

    TFileDescriptor file(OpenRegularFile(path));
    if (file.Fd < 0) return false;

    if (WriteLocked(file.Fd)) return false;
    // A shared flock fails while a writer holds LOCK_EX, and held until the
    // close it keeps such a writer from starting in the middle of the read.
    if (flock(file.Fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) return false;

    return ReadRegularFile(file.Fd, ConfigFileSizeLimit, Bytes);
  }

  void Sleep(int32_t Milliseconds) override {
    if (Milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
  }
};

}  // namespace

TConfigFileSystem& SystemConfigFileSystem() {
  static TLinuxConfigFileSystem files;
  return files;
}

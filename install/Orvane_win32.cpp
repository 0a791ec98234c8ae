// Configuration files on Windows: one read-only attempt that shares reading
// only, so it fails while the mail server holds the file open for writing.
#include "install/Orvane.h"

#include <windows.h>

#include "common/BoundedRead.h"

namespace {

class TWin32ConfigFileSystem : public TConfigFileSystem {
public:
  bool ReadWholeFile(const std::string& FileName, std::string& Bytes) override {
    return ReadBoundedFile(FileName, ConfigFileSizeLimit, Bytes);
  }

  void Sleep(int32_t Milliseconds) override {
    if (Milliseconds > 0) ::Sleep(static_cast<DWORD>(Milliseconds));
  }
};

}  // namespace

TConfigFileSystem& SystemConfigFileSystem() {
  static TWin32ConfigFileSystem Files;
  return Files;
}

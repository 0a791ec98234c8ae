// TOrvane: where the mail server is installed and how its configuration
// files are read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/ConfigText.h"
#include "install/uTRegistryMgr.h"

// The file system as the configuration reader needs it. Tests replace it.
class TConfigFileSystem {
public:
  virtual ~TConfigFileSystem() = default;
  // One read-only attempt at the whole file. False when it cannot be opened
  // or read: missing, access refused, held open for writing (Windows) or
  // write-locked (Linux) by another process, not a regular file, or larger
  // than ConfigFileSizeLimit (common/BoundedRead.h). Never blocks, and never
  // reads past the limit.
  virtual bool ReadWholeFile(const std::string& FileName, std::string& Bytes) = 0;
  virtual void Sleep(int32_t Milliseconds) = 0;
};

// The running system's file system (platform code).
TConfigFileSystem& SystemConfigFileSystem();

class TOrvane {
public:
  // The settings' defaults, and DataPath from the registry.
  TOrvane(TConfigFileSystem& Files, TRegistrySource& Registry);
  virtual ~TOrvane() = default;

  int32_t RetryDelay = 500;  // milliseconds before each retry
  int32_t RetryCount = 3;    // retries after a failed first attempt
  int32_t Verbosity = 0;
  std::string DataPath;      // the application directory, as stored

  // DataPath := registry HKLM "SOFTWARE\Kestrix Technologies\Orvane" "AppPath".
  void ReadAppPath();

  // Replaces Lines with the kept lines of the file, trying 1 + RetryCount
  // times (at least once) with RetryDelay between attempts. Throws
  // std::runtime_error "Can not read " + FileName after the last failure,
  // leaving Lines empty.
  bool LoadConfigFile(const std::string& FileName, std::vector<std::string>& Lines);

  static bool Contains(const std::string& Line, const std::string& Fragment);
  static std::string KeyValueText(const std::string& Line, const std::string& Key);
  static int64_t KeyValueInteger(const std::string& Line, const std::string& Key);

protected:
  TConfigFileSystem& Files;
  TRegistrySource& Registry;
};

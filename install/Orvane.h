// TOrvane: where the mail server is installed and how its configuration
// files are read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "install/uTRegistryMgr.h"

// Configuration and registry files larger than this are not read: far above
// any real configuration, and it bounds what one read can cost.
constexpr size_t ConfigFileSizeLimit = size_t(16) << 20;

// The file system as the configuration reader needs it. Tests replace it.
class TConfigFileSystem {
public:
  virtual ~TConfigFileSystem() = default;
  // One read-only attempt at the whole file. False when it cannot be opened
  // or read: missing, access refused, held open for writing (Windows) or
  // write-locked (Linux) by another process, not a regular file, or larger
  // than ConfigFileSizeLimit. Never blocks, and never reads past the limit.
  virtual bool ReadWholeFile(const std::string& FileName, std::string& Bytes) = 0;
  virtual void Sleep(int32_t Milliseconds) = 0;
};

// The running system's file system (platform code).
TConfigFileSystem& SystemConfigFileSystem();

// Platform: bytes in the system's ANSI code page to UTF-8 (on Linux the code
// page is UTF-8; invalid bytes become U+FFFD rather than failing the read).
// Text that needs no conversion comes back moved, not copied.
std::string AnsiToUtf8(std::string bytes);

// A configuration file's bytes to UTF-8 text: a byte-order mark selects
// UTF-16LE, UTF-16BE or UTF-8; without one the ANSI code page applies. A NUL
// ends the text. The bytes are converted in place where the encoding allows.
std::string DecodeConfigText(std::string bytes);

// The lines of a text one after the other, split at CR LF, lone LF and lone
// CR; a line break at the very end adds no empty line. The views point into
// the text, which must outlive them.
class TLineCursor {
public:
  explicit TLineCursor(std::string_view Text) : Text(Text) {}
  bool Next(std::string_view& Line);

private:
  std::string_view Text;
  size_t Pos = 0;
};

// Splits at CR LF, lone LF and lone CR; a line break at the very end adds no
// empty line.
std::vector<std::string> SplitConfigLines(const std::string& text);

// A blank line (only U+0020 blanks) or one whose first character after
// leading blanks is "#" or ";".
bool IsBlankOrCommentLine(std::string_view Line);

// Removes blank and comment lines. Kept lines are unchanged.
void DropBlankAndCommentLines(std::vector<std::string>& Lines);

// SplitConfigLines and DropBlankAndCommentLines in one pass, holding only the
// kept lines, each once.
std::vector<std::string> KeptConfigLines(std::string_view text);

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

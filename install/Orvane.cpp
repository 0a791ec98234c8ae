#include "install/Orvane.h"

#include <exception>
#include <stdexcept>

#include "cmdline/CommandLineParser.h"
#include "common/TextCodec.h"
#include "install/uTRegistryMgr.h"

namespace {

bool StartsWith(const std::string& bytes, const char* mark, size_t length) {
  return bytes.size() >= length && bytes.compare(0, length, mark, length) == 0;
}

// UTF-16 bytes after a byte-order mark to UTF-8, up to the first NUL.
std::string DecodeUtf16(const std::string& bytes, size_t from, bool bigEndian) {
  std::u16string units = Utf16FromBytes(bytes.data() + from, bytes.size() - from, bigEndian);
  const size_t end = units.find(u'\0');
  if (end != std::u16string::npos) units.resize(end);
  return Utf16ToUtf8(units);
}

// Single-byte and UTF-8 texts: a zero byte is a NUL in either.
std::string UpToNul(const std::string& bytes, size_t from) {
  const size_t end = bytes.find('\0', from);
  return bytes.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

}  // namespace

std::string DecodeConfigText(const std::string& bytes) {
  if (StartsWith(bytes, "\xFF\xFE", 2)) return DecodeUtf16(bytes, 2, false);
  if (StartsWith(bytes, "\xFE\xFF", 2)) return DecodeUtf16(bytes, 2, true);
  if (StartsWith(bytes, "\xEF\xBB\xBF", 3)) return SanitizeUtf8(UpToNul(bytes, 3));
  return AnsiToUtf8(UpToNul(bytes, 0));
}

std::vector<std::string> SplitConfigLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  const size_t n = text.size();
  while (start < n) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.emplace_back(text, start);
      break;
    }
    lines.emplace_back(text, start, end - start);
    start = end + ((text[end] == '\r' && end + 1 < n && text[end + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

void DropBlankAndCommentLines(std::vector<std::string>& Lines) {
  std::vector<std::string> kept;
  kept.reserve(Lines.size());
  for (std::string& line : Lines) {
    const size_t first = line.find_first_not_of(' ');
    if (first == std::string::npos || line[first] == '#' || line[first] == ';') continue;
    kept.push_back(std::move(line));
  }
  Lines = std::move(kept);
}

TOrvane::TOrvane(TConfigFileSystem& Files) : Files(Files) { ReadAppPath(); }

void TOrvane::ReadAppPath() {
  DataPath = TRegistryMgr().ReadString(true, "SOFTWARE\\Kestrix Technologies\\Orvane", "AppPath");
}

bool TOrvane::LoadConfigFile(const std::string& FileName, std::vector<std::string>& Lines) {
  int64_t failures = 0;  // wide enough that RetryCount INT32_MAX cannot overflow it
  for (;;) {
    // A negative delay must not become an endless wait on the system's sleep.
    if (failures > 0 && RetryDelay > 0) Files.Sleep(RetryDelay);
    try {
      std::string bytes;
      if (Files.ReadWholeFile(FileName, bytes)) {
        Lines = SplitConfigLines(DecodeConfigText(bytes));
        DropBlankAndCommentLines(Lines);
        return true;
      }
    } catch (const std::exception&) {
      // Out of memory on a huge file: one more failed attempt, nothing else.
    }
    ++failures;
    if (failures > RetryCount) break;
  }
  Lines.clear();
  Lines.shrink_to_fit();
  throw std::runtime_error("Can not read " + FileName);
}

bool TOrvane::Contains(const std::string& Line, const std::string& Fragment) {
  return !Fragment.empty() && Line.find(Fragment) != std::string::npos;
}

std::string TOrvane::KeyValueText(const std::string& Line, const std::string& Key) {
  const size_t at = Line.find(Key);
  if (at == std::string::npos) return {};
  return Line.substr(at + Key.size());
}

int64_t TOrvane::KeyValueInteger(const std::string& Line, const std::string& Key) {
  return LeadingInteger(KeyValueText(Line, Key));
}

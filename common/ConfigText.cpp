#include "common/ConfigText.h"

#include <utility>

#include "common/TextCodec.h"

namespace {

bool StartsWith(const std::string& bytes, const char* mark, size_t length) {
  return bytes.size() >= length && bytes.compare(0, length, mark, length) == 0;
}

// Single-byte and UTF-8 texts: a zero byte is a NUL in either. The mark goes
// and the text ends at the NUL, both in place.
std::string WithoutMarkUpToNul(std::string bytes, size_t markLength) {
  bytes.erase(0, markLength);
  const size_t end = bytes.find('\0');
  if (end != std::string::npos) bytes.resize(end);
  return bytes;
}

}  // namespace

std::string DecodeConfigText(std::string bytes) {
  if (StartsWith(bytes, "\xFF\xFE", 2))
    return Utf8FromUtf16Bytes(bytes.data() + 2, bytes.size() - 2, false);
  if (StartsWith(bytes, "\xFE\xFF", 2))
    return Utf8FromUtf16Bytes(bytes.data() + 2, bytes.size() - 2, true);
  if (StartsWith(bytes, "\xEF\xBB\xBF", 3))
    return SanitizeUtf8(WithoutMarkUpToNul(std::move(bytes), 3));
  return AnsiToUtf8(WithoutMarkUpToNul(std::move(bytes), 0));
}

bool TLineCursor::Next(std::string_view& Line) {
  if (Pos >= Text.size()) return false;
  const size_t end = Text.find_first_of("\r\n", Pos);
  if (end == std::string_view::npos) {
    Line = Text.substr(Pos);
    Pos = Text.size();
    return true;
  }
  Line = Text.substr(Pos, end - Pos);
  Pos = end + ((Text[end] == '\r' && end + 1 < Text.size() && Text[end + 1] == '\n') ? 2 : 1);
  return true;
}

bool IsBlankOrCommentLine(std::string_view Line) {
  const size_t first = Line.find_first_not_of(' ');
  return first == std::string_view::npos || Line[first] == '#' || Line[first] == ';';
}

std::vector<std::string> KeptConfigLines(std::string_view text) {
  // Counted first, so that the list is allocated once at its final size.
  size_t count = 0;
  std::string_view line;
  for (TLineCursor cursor(text); cursor.Next(line);)
    if (!IsBlankOrCommentLine(line)) ++count;
  std::vector<std::string> lines;
  lines.reserve(count);
  for (TLineCursor cursor(text); cursor.Next(line);)
    if (!IsBlankOrCommentLine(line)) lines.emplace_back(line);
  return lines;
}

// Configuration text: the bytes of a configuration or registry export file
// decoded to UTF-8 and taken apart into lines.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

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

// A blank line (only U+0020 blanks) or one whose first character after
// leading blanks is "#" or ";".
bool IsBlankOrCommentLine(std::string_view Line);

// The lines of a text that are neither blank nor comments, unchanged.
std::vector<std::string> KeptConfigLines(std::string_view text);

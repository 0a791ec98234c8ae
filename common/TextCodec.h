// Text conversions. Inside the program all text is UTF-8 in std::string;
// UTF-16 appears only at system boundaries (registry data, configuration
// files with a byte-order mark, the Windows API).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// UTF-16 code units to UTF-8. Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);

// UTF-8 to UTF-16. Each invalid byte sequence (overlong, surrogate, beyond
// U+10FFFF, truncated, stray byte) becomes one U+FFFD per maximal broken
// subpart, and decoding resumes at the byte that broke it.
std::u16string Utf8ToUtf16(const std::string& text);

// Raw UTF-16 bytes (little- or big-endian) to code units; an odd last byte
// is ignored.
std::u16string Utf16FromBytes(const char* data, size_t size, bool bigEndian);

// Raw UTF-16 bytes straight to UTF-8, without a UTF-16 copy of the whole
// text: up to the first NUL unit; an odd last byte is ignored and unpaired
// surrogates become U+FFFD.
std::string Utf8FromUtf16Bytes(const char* data, size_t size, bool bigEndian);

// Replaces every invalid UTF-8 sequence by U+FFFD (the same way as
// Utf8ToUtf16), so that text read from outside can be handled as UTF-8
// without surprises. Valid text comes back unchanged (moved, not copied).
std::string SanitizeUtf8(std::string bytes);

// CR and LF turned into blanks: Nagios reads the first line of the output as
// the status, so text from outside (an argument, a path) must not break it.
std::string FoldLineBreaks(std::string text);

// Platform: bytes in the system's ANSI code page to UTF-8 (on Linux the code
// page is UTF-8; invalid bytes become U+FFFD rather than failing the read).
// Text that needs no conversion comes back moved, not copied.
std::string AnsiToUtf8(std::string bytes);

// ASCII-only case mapping: the program's process-name tests ignore the case
// of the letters a-z alone.
std::string AsciiUpper(std::string text);
std::string AsciiLower(std::string text);
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

// The items of a comma list as written, empty ones included: "a,,b" is
// three items and "" one, so that a caller can refuse an empty item.
std::vector<std::string> CommaList(const std::string& text);

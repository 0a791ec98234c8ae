#include "common/TextCodec.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kInvalid = 0xFFFFFFFF;

// Decodes one UTF-8 sequence at data[pos]. Returns the code point, or
// kInvalid when the bytes are ill-formed; `length` is then the maximal
// subpart of the broken sequence (at least one byte), so that every broken
// sequence is replaced by exactly one U+FFFD and the decoder resynchronises
// on the byte that broke it.
char32_t DecodeUtf8(const unsigned char* data, size_t size, size_t pos, size_t& length) {
  const unsigned char lead = data[pos];
  length = 1;
  if (lead < 0x80) return lead;

  // Well-formed sequences: the lead byte fixes the number of continuation
  // bytes and the range of the first one; this excludes overlongs,
  // surrogates and code points beyond U+10FFFF.
  size_t need;
  unsigned char low = 0x80, high = 0xBF;
  char32_t cp;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return kInvalid;
  }

  for (size_t i = 1; i <= need; ++i) {
    if (pos + i >= size) return kInvalid;
    const unsigned char b = data[pos + i];
    if (b < low || b > high) return kInvalid;
    low = 0x80;
    high = 0xBF;
    cp = (cp << 6) | (b & 0x3F);
    length = i + 1;
  }
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

char AsciiToUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char AsciiToLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

namespace {

// Units 0 .. Count-1 as UTF-8: a pair of surrogates makes one character, an
// unpaired surrogate becomes U+FFFD.
template <typename TUnitAt>
void AppendUtf16AsUtf8(std::string& out, size_t Count, TUnitAt UnitAt) {
  for (size_t i = 0; i < Count; ++i) {
    const char16_t u = UnitAt(i);
    if (IsHighSurrogate(u) && i + 1 < Count && IsLowSurrogate(UnitAt(i + 1))) {
      AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                          (static_cast<char32_t>(UnitAt(i + 1)) - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, u);
    }
  }
}

}  // namespace

std::string Utf16ToUtf8(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  AppendUtf16AsUtf8(out, text.size(), [&](size_t i) { return text[i]; });
  return out;
}

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  const auto* data = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t pos = 0;
  while (pos < n) {
    size_t length;
    char32_t cp = DecodeUtf8(data, n, pos, length);
    pos += length;
    if (cp == kInvalid) cp = kReplacement;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

namespace {

// Code unit Index of UTF-16 bytes in the given byte order.
char16_t Utf16UnitAt(const unsigned char* Bytes, size_t Index, bool BigEndian) {
  const unsigned first = Bytes[2 * Index], second = Bytes[2 * Index + 1];
  return static_cast<char16_t>(BigEndian ? (first << 8) | second : (second << 8) | first);
}

}  // namespace

std::u16string Utf16FromBytes(const char* data, size_t size, bool bigEndian) {
  std::u16string out;
  if (data == nullptr) return out;
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  out.resize(size / 2);
  for (size_t i = 0; i < out.size(); ++i) out[i] = Utf16UnitAt(bytes, i, bigEndian);
  return out;
}

std::string Utf8FromUtf16Bytes(const char* data, size_t size, bool bigEndian) {
  std::string out;
  if (data == nullptr) return out;
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  const size_t units = size / 2;
  auto unitAt = [&](size_t i) { return Utf16UnitAt(bytes, i, bigEndian); };
  size_t end = 0;
  while (end < units && unitAt(end) != u'\0') ++end;
  out.reserve(end);  // exact for ASCII text, the usual case
  AppendUtf16AsUtf8(out, end, unitAt);
  return out;
}

std::string SanitizeUtf8(std::string bytes) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();

  // Nearly all text is valid; copy it as it stands up to the first fault.
  size_t pos = 0;
  while (pos < n) {
    size_t length;
    if (DecodeUtf8(data, n, pos, length) == kInvalid) break;
    pos += length;
  }
  if (pos == n) return bytes;

  std::string out(bytes, 0, pos);
  out.reserve(n + 2);
  while (pos < n) {
    size_t length;
    if (DecodeUtf8(data, n, pos, length) == kInvalid)
      AppendUtf8(out, kReplacement);
    else
      out.append(bytes, pos, length);
    pos += length;
  }
  return out;
}

std::string FoldLineBreaks(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

std::string AsciiUpper(std::string text) {
  for (char& c : text) c = AsciiToUpper(c);
  return text;
}

std::string AsciiLower(std::string text) {
  for (char& c : text) c = AsciiToLower(c);
  return text;
}

std::vector<std::string> CommaList(const std::string& text) {
  std::vector<std::string> items;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    items.push_back(text.substr(start, comma == std::string::npos ? comma : comma - start));
    if (comma == std::string::npos) return items;
    start = comma + 1;
  }
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiToLower(a[i]) != AsciiToLower(b[i])) return false;
  return true;
}

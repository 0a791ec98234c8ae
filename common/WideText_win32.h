// Text at the Windows API boundary: the program's UTF-8 to and from the
// system's UTF-16 (wchar_t is 16 bits wide there).
#pragma once

#include <cwchar>
#include <string>

#include "common/TextCodec.h"

inline std::wstring WideFromUtf8(const std::string& Text) {
  const std::u16string Units = Utf8ToUtf16(Text);
  return std::wstring(Units.begin(), Units.end());
}

inline std::string Utf8FromWide(const wchar_t* Text, size_t Length) {
  return Utf16ToUtf8(std::u16string(Text, Text + Length));
}

inline std::string Utf8FromWide(const std::wstring& Text) {
  return Utf8FromWide(Text.data(), Text.size());
}

// A fixed array of the system's records: the text runs to the first NUL, or
// over the whole array when it holds none.
template <size_t N>
size_t WideArrayLength(const wchar_t (&Array)[N]) {
  size_t Length = 0;
  while (Length < N && Array[Length] != L'\0') ++Length;
  return Length;
}

template <size_t N>
std::wstring WideArrayText(const wchar_t (&Array)[N]) {
  return std::wstring(Array, WideArrayLength(Array));
}

template <size_t N>
std::string Utf8FromWideArray(const wchar_t (&Array)[N]) {
  return Utf8FromWide(Array, WideArrayLength(Array));
}

// The system's ANSI code page on Windows.
#include "common/TextCodec.h"

#include <windows.h>

#include <climits>
#include <stdexcept>

#include "common/WideText_win32.h"

std::string AnsiToUtf8(std::string bytes) {
  // ASCII reads the same in every ANSI code page and in UTF-8: no round trip
  // through UTF-16 for the usual configuration file.
  bool Ascii = true;
  for (char c : bytes)
    if (static_cast<unsigned char>(c) >= 0x80) {
      Ascii = false;
      break;
    }
  if (Ascii) return bytes;
  if (bytes.size() > static_cast<size_t>(INT_MAX)) throw std::runtime_error("text too long");
  const int Length = static_cast<int>(bytes.size());
  // Without MB_ERR_INVALID_CHARS bytes the code page does not define become
  // its default character instead of failing the whole text.
  const int Units = MultiByteToWideChar(CP_ACP, 0, bytes.data(), Length, nullptr, 0);
  if (Units <= 0) throw std::runtime_error("text not in the ANSI code page");
  std::wstring Wide(static_cast<size_t>(Units), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), Length, &Wide[0], Units);
  return Utf8FromWide(Wide);
}

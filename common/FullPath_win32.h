// A path as the system completes it: relative to the working directory, with
// either separator, "." and ".." resolved and doubled separators made one.
#pragma once

#include <windows.h>

#include <string>

// Empty when it cannot be had.
inline std::wstring FullPathName(const std::wstring& Name) {
  if (Name.empty()) return {};
  const DWORD Size = GetFullPathNameW(Name.c_str(), 0, nullptr, nullptr);
  if (Size == 0) return {};
  std::wstring Full(Size, L'\0');
  const DWORD Length = GetFullPathNameW(Name.c_str(), Size, &Full[0], nullptr);
  if (Length == 0 || Length >= Size) return {};
  Full.resize(Length);
  return Full;
}

// A function of a loaded system library, looked up by name: the program
// runs on Windows versions that lack some of them.
#pragma once

#include <windows.h>

// Null when the library or the function is not there. GetProcAddress gives a
// generic entry point; the detour through the parameterless type keeps the
// compiler's cast check quiet.
template <typename TFunction>
TFunction Lookup(HMODULE Module, const char* Name) {
  if (Module == nullptr) return nullptr;
  return reinterpret_cast<TFunction>(reinterpret_cast<void (*)()>(GetProcAddress(Module, Name)));
}

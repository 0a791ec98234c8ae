// A library named like the system's IP helper library, as an attacker would
// plant it beside the check: loading it leaves a marker file beside it. Its
// table functions only say "not supported", so that a check that takes it
// still starts.
#include <windows.h>

#include <string>

extern "C" {

BOOL WINAPI DllMain(HINSTANCE Instance, DWORD Reason, LPVOID) {
  if (Reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t Path[MAX_PATH];
  const DWORD Length = GetModuleFileNameW(Instance, Path, MAX_PATH);
  if (Length == 0 || Length >= MAX_PATH) return TRUE;
  std::wstring Marker(Path, Length);
  Marker = Marker.substr(0, Marker.rfind(L'\\') + 1) + L"planted-library-loaded";
  const HANDLE File = CreateFileW(Marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (File != INVALID_HANDLE_VALUE) CloseHandle(File);
  return TRUE;
}

__declspec(dllexport) DWORD WINAPI GetTcpTable(void*, DWORD*, BOOL) { return ERROR_NOT_SUPPORTED; }
__declspec(dllexport) DWORD WINAPI GetUdpTable(void*, DWORD*, BOOL) { return ERROR_NOT_SUPPORTED; }
__declspec(dllexport) DWORD WINAPI GetExtendedTcpTable(void*, DWORD*, BOOL, ULONG, DWORD, ULONG) {
  return ERROR_NOT_SUPPORTED;
}
__declspec(dllexport) DWORD WINAPI GetExtendedUdpTable(void*, DWORD*, BOOL, ULONG, DWORD, ULONG) {
  return ERROR_NOT_SUPPORTED;
}

}  // extern "C"

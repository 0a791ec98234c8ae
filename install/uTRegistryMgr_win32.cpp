// The registry on Windows.
#include "install/uTRegistryMgr.h"

#include <windows.h>

#include "common/WideText_win32.h"

namespace {

class TKeyCloser {
public:
  explicit TKeyCloser(HKEY Key) : Key(Key) {}
  ~TKeyCloser() { RegCloseKey(Key); }
  TKeyCloser(const TKeyCloser&) = delete;
  TKeyCloser& operator=(const TKeyCloser&) = delete;

private:
  HKEY Key;
};

class TWin32Registry : public TRegistrySource {
public:
  TRegistryQuery Query(bool LocalMachine, const std::string& Key, const std::string& Name,
                       TRegistryValue& Value) override;
};

TRegistryQuery TWin32Registry::Query(bool LocalMachine, const std::string& Key,
                                     const std::string& Name, TRegistryValue& Value) {
  // Read access is all a monitoring check needs, and accounts without
  // administrative rights have it. The mail server is a 32-bit program and
  // keeps its settings in the 32-bit view, which a 64-bit build must ask for
  // (the flag changes nothing for a 32-bit build). A 64-bit build of the
  // server writes them in the 64-bit view: that view is read when the
  // 32-bit one has no such key, and only then (a key that exists but may
  // not be read is not looked for elsewhere).
  const HKEY Root = LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  const std::wstring Path = WideFromUtf8(Key);
  HKEY Opened = nullptr;
  LONG Result = RegOpenKeyExW(Root, Path.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &Opened);
  if (Result == ERROR_FILE_NOT_FOUND)
    Result = RegOpenKeyExW(Root, Path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &Opened);
  if (Result != ERROR_SUCCESS) return TRegistryQuery::KeyMissing;
  TKeyCloser Closer(Opened);

  const std::wstring ValueName = WideFromUtf8(Name);
  DWORD Type = REG_NONE;
  DWORD Size = 0;
  if (RegQueryValueExW(Opened, ValueName.c_str(), nullptr, &Type, nullptr, &Size) != ERROR_SUCCESS)
    return TRegistryQuery::ValueMissing;
  Value.Type = Type;
  Value.Data.clear();
  if (Size == 0) return TRegistryQuery::Found;

  // The value may grow between the size query and the read; ask again with
  // the new size a few times before calling the read failed.
  for (int Attempt = 0; Attempt < 4; ++Attempt) {
    Value.Data.assign(Size, 0);
    Result = RegQueryValueExW(Opened, ValueName.c_str(), nullptr, &Type, Value.Data.data(), &Size);
    if (Result == ERROR_SUCCESS) {
      Value.Type = Type;
      Value.Data.resize(Size);
      return TRegistryQuery::Found;
    }
    if (Result != ERROR_MORE_DATA) break;
  }
  Value.Data.clear();
  return TRegistryQuery::ReadFailed;
}

}  // namespace

TRegistrySource& SystemRegistrySource() {
  static TWin32Registry Registry;
  return Registry;
}

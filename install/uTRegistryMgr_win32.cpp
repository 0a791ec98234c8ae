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
  // (the flag changes nothing for a 32-bit build).
  const REGSAM Access = KEY_READ | KEY_WOW64_32KEY;
  HKEY Opened = nullptr;
  if (RegOpenKeyExW(LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                    WideFromUtf8(Key).c_str(), 0, Access, &Opened) != ERROR_SUCCESS)
    return TRegistryQuery::KeyMissing;
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
    const LONG Result =
        RegQueryValueExW(Opened, ValueName.c_str(), nullptr, &Type, Value.Data.data(), &Size);
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

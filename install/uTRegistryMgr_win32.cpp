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

// One value in one view of the registry. KeyAbsent tells a key that is not
// there from one that may not be opened (both KeyMissing).
TRegistryQuery QueryView(HKEY Root, const std::wstring& Path, const std::wstring& ValueName,
                         REGSAM View, TRegistryValue& Value, bool& KeyAbsent) {
  HKEY Opened = nullptr;
  const LONG Open = RegOpenKeyExW(Root, Path.c_str(), 0, KEY_READ | View, &Opened);
  KeyAbsent = Open == ERROR_FILE_NOT_FOUND;
  if (Open != ERROR_SUCCESS) return TRegistryQuery::KeyMissing;
  TKeyCloser Closer(Opened);

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

// Whether a query gave nothing to go by: no key, no value, or a value
// without text (no data, or a text that ends at once).
bool YieldsNothing(TRegistryQuery Result, const TRegistryValue& Value) {
  if (Result == TRegistryQuery::KeyMissing || Result == TRegistryQuery::ValueMissing) return true;
  if (Result != TRegistryQuery::Found) return false;
  if (Value.Data.empty()) return true;
  const bool Text = Value.Type == REG_SZ || Value.Type == REG_EXPAND_SZ;
  return Text && (Value.Data.size() < 2 || (Value.Data[0] == 0 && Value.Data[1] == 0));
}

TRegistryQuery TWin32Registry::Query(bool LocalMachine, const std::string& Key,
                                     const std::string& Name, TRegistryValue& Value) {
  // Read access is all a monitoring check needs, and accounts without
  // administrative rights have it. The mail server is a 32-bit program and
  // keeps its settings in the 32-bit view, which a 64-bit build must ask for
  // (the flag changes nothing for a 32-bit build). A 64-bit build of the
  // server writes them in the 64-bit view: that view is read when the
  // 32-bit one yields nothing (no key, no value, or an empty one: a leftover
  // of an earlier 32-bit installation must not hide the real one). A value
  // that is there but cannot be read is not looked for elsewhere; neither is
  // a key that may not be opened.
  const HKEY Root = LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  const std::wstring Path = WideFromUtf8(Key);
  const std::wstring ValueName = WideFromUtf8(Name);
  bool Absent = false;
  const TRegistryQuery Result = QueryView(Root, Path, ValueName, KEY_WOW64_32KEY, Value, Absent);
  if (!YieldsNothing(Result, Value)) return Result;
  if (Result == TRegistryQuery::KeyMissing && !Absent) return Result;
  TRegistryValue Native;
  const TRegistryQuery NativeResult =
      QueryView(Root, Path, ValueName, KEY_WOW64_64KEY, Native, Absent);
  if (YieldsNothing(NativeResult, Native)) return Result;
  Value = std::move(Native);
  return NativeResult;
}

}  // namespace

TRegistrySource& SystemRegistrySource() {
  static TWin32Registry Registry;
  return Registry;
}

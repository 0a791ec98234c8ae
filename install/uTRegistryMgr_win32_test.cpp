// The registry reader against the real registry: each test writes its own
// key below HKEY_LOCAL_MACHINE and removes it again.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/WideText_win32.h"
#include "install/uTRegistryMgr.h"

namespace {

TRegistryMgr SystemRegistry() { return TRegistryMgr(SystemRegistrySource()); }

class RegistryWin32 : public ::testing::Test {
protected:
  // Below SOFTWARE, where the 32-bit and the 64-bit views differ.
  std::string KeyPath = "SOFTWARE\\OrvaneCheckTests\\" + std::to_string(GetCurrentProcessId());

  void SetUp() override {
    const LONG Result = CreateView(KEY_WOW64_32KEY, Key);
    if (Result == ERROR_ACCESS_DENIED) GTEST_SKIP() << "no write access to HKEY_LOCAL_MACHINE";
    ASSERT_EQ(Result, ERROR_SUCCESS);
  }
  void TearDown() override {
    if (Key) RegCloseKey(Key);
    for (REGSAM View : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      HKEY Parent;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | View, &Parent) ==
          ERROR_SUCCESS) {
        RegDeleteTreeW(Parent, WideFromUtf8(KeyPath.substr(9)).c_str());
        RegCloseKey(Parent);
      }
    }
  }

  static LONG CreateKey(const std::string& Path, REGSAM View, HKEY& Created) {
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, WideFromUtf8(Path).c_str(), 0, nullptr, 0,
                           KEY_ALL_ACCESS | View, nullptr, &Created, nullptr);
  }
  LONG CreateView(REGSAM View, HKEY& Created) { return CreateKey(KeyPath, View, Created); }
  // The key Path in View, made by Make.
  static void MakeKey(const std::string& Path, REGSAM View, const std::function<void(HKEY)>& Make) {
    HKEY Created = nullptr;
    ASSERT_EQ(CreateKey(Path, View, Created), ERROR_SUCCESS);
    Make(Created);
    RegCloseKey(Created);
  }
  // The views must be apart where a test shows one alone, or it shows nothing.
  static bool Missing(const std::string& Path, REGSAM View) {
    HKEY Found = nullptr;
    const LONG Result =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, WideFromUtf8(Path).c_str(), 0, KEY_READ | View, &Found);
    if (Result == ERROR_SUCCESS) RegCloseKey(Found);
    return Result == ERROR_FILE_NOT_FOUND;
  }
  static void Set(HKEY Where, const wchar_t* Name, DWORD Type, const void* Data, size_t Size) {
    ASSERT_EQ(RegSetValueExW(Where, Name, 0, Type, static_cast<const BYTE*>(Data),
                             static_cast<DWORD>(Size)),
              ERROR_SUCCESS);
  }
  // Text with its terminating NUL, as the system stores it.
  static void SetText(HKEY Where, const wchar_t* Name, DWORD Type, const std::wstring& Text) {
    Set(Where, Name, Type, Text.c_str(), (Text.size() + 1) * sizeof(wchar_t));
  }

  HKEY Key = nullptr;
};

TEST_F(RegistryWin32, ReadStringGivesTextValuesAsStored) {
  const struct {
    const wchar_t* Name;
    DWORD Type;
    std::wstring Data;  // stored with its NUL
    std::string Expected;
  } Cases[] = {
      {L"Plain", REG_SZ, L"C:\\Orvane\\App\\", "C:\\Orvane\\App\\"},
      {L"NoBackslash", REG_SZ, L"C:\\Orvane\\App", "C:\\Orvane\\App"},
      // Environment references stay as written.
      {L"Expand", REG_EXPAND_SZ, L"%SystemRoot%\\Orvane\\", "%SystemRoot%\\Orvane\\"},
      {L"EmbeddedNul", REG_SZ, std::wstring(L"D:\\Mail\\\0tail", 13), "D:\\Mail\\"},
      {L"NonAscii", REG_SZ, L"D:\\M\u00e4il\\\u65e5\\", "D:\\M\xc3\xa4il\\\xe6\x97\xa5\\"},
      {L"EmptyText", REG_SZ, L"", ""},
  };
  for (const auto& Case : Cases) SetText(Key, Case.Name, Case.Type, Case.Data);
  for (const auto& Case : Cases) {
    const std::string Name = Utf8FromWide(Case.Name);
    EXPECT_EQ(SystemRegistry().ReadString(true, KeyPath, Name), Case.Expected) << Name;
  }
}

TEST_F(RegistryWin32, TextWithoutTerminatingNulIsReadWhole) {
  const std::wstring Text = L"E:\\Orvane\\";
  Set(Key, L"AppPath", REG_SZ, Text.data(), Text.size() * sizeof(wchar_t));
  EXPECT_EQ(SystemRegistry().ReadString(true, KeyPath, "AppPath"), "E:\\Orvane\\");
}

TEST_F(RegistryWin32, ValuesThatAreNotTextRaise) {
  const DWORD Number = 5;
  const unsigned char Bytes[] = {1, 2, 3};
  Set(Key, L"AppPath", REG_DWORD, &Number, sizeof Number);
  Set(Key, L"Binary", REG_BINARY, Bytes, sizeof Bytes);
  for (const std::string Name : {"AppPath", "Binary"}) {
    try {
      SystemRegistry().ReadString(true, KeyPath, Name);
      ADD_FAILURE() << Name << " did not raise";
    } catch (const std::runtime_error& Error) {
      EXPECT_EQ(std::string(Error.what()), "Invalid data type for '" + Name + "'");
    }
  }
}

TEST_F(RegistryWin32, MissingKeyOrValueIsEmptyText) {
  TRegistryValue Value;
  EXPECT_EQ(SystemRegistrySource().Query(true, KeyPath + "\\Absent", "AppPath", Value),
            TRegistryQuery::KeyMissing);
  EXPECT_EQ(SystemRegistrySource().Query(true, KeyPath, "AppPath", Value),
            TRegistryQuery::ValueMissing);
  EXPECT_EQ(SystemRegistry().ReadString(true, KeyPath + "\\Absent", "AppPath"), "");
  EXPECT_EQ(SystemRegistry().ReadString(true, KeyPath, "AppPath"), "");
  // The key is only read, never created.
  HKEY Probe;
  EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, WideFromUtf8(KeyPath + "\\Absent").c_str(), 0,
                          KEY_READ | KEY_WOW64_32KEY, &Probe),
            ERROR_SUCCESS);
}

TEST_F(RegistryWin32, QueryHandsOverTypeAndRawData) {
  SetText(Key, L"AppPath", REG_EXPAND_SZ, L"ab");
  TRegistryValue Value;
  ASSERT_EQ(SystemRegistrySource().Query(true, KeyPath, "AppPath", Value), TRegistryQuery::Found);
  EXPECT_EQ(Value.Type, static_cast<uint32_t>(RegistryTypeExpandSz));
  EXPECT_EQ(Value.Data, (std::vector<uint8_t>{'a', 0, 'b', 0, 0, 0}));
}

// The mail server keeps its settings in the 32-bit view; a 64-bit build must
// read them there and not in the 64-bit view of the same path.
TEST_F(RegistryWin32, ReadsThe32BitView) {
  HKEY Native = nullptr;
  ASSERT_EQ(CreateView(KEY_WOW64_64KEY, Native), ERROR_SUCCESS);
  // Written first, so that on a system with a single view the 32-bit value
  // written next is the one that stands.
  SetText(Native, L"AppPath", REG_SZ, L"C:\\64-bit view\\");
  RegCloseKey(Native);
  SetText(Key, L"AppPath", REG_SZ, L"C:\\32-bit view\\");
  EXPECT_EQ(SystemRegistry().ReadString(true, KeyPath, "AppPath"), "C:\\32-bit view\\");
}

// A 64-bit build of the server writes its key in the 64-bit view; a key in
// either view alone is found.
TEST_F(RegistryWin32, KeyInOneViewAloneIsFound) {
  for (const REGSAM View : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    const std::string Path = KeyPath + (View == KEY_WOW64_64KEY ? "\\Only64" : "\\Only32");
    MakeKey(Path, View, [](HKEY Where) { SetText(Where, L"AppPath", REG_SZ, L"C:\\one view\\"); });
    ASSERT_TRUE(Missing(Path, View == KEY_WOW64_64KEY ? KEY_WOW64_32KEY : KEY_WOW64_64KEY));
    EXPECT_EQ(SystemRegistry().ReadString(true, Path, "AppPath"), "C:\\one view\\") << Path;
  }
}

// A leftover of an earlier installation in the 32-bit view (the key without
// AppPath, or with an empty one) must not hide the value of the 64-bit view.
TEST_F(RegistryWin32, LeftoverIn32BitViewWithoutAppPathGivesWayToThe64BitView) {
  const struct {
    const char* Leftover;
    std::function<void(HKEY)> Make;  // on the 32-bit key
    bool Native;                     // the 64-bit view holds the value
    std::string Expected;
  } Cases[] = {
      {"key without AppPath", [](HKEY) {}, true, "C:\\64-bit view\\"},
      {"empty text", [](HKEY Where) { SetText(Where, L"AppPath", REG_SZ, L""); }, true,
       "C:\\64-bit view\\"},
      {"no data", [](HKEY Where) { Set(Where, L"AppPath", REG_SZ, L"", 0); }, true,
       "C:\\64-bit view\\"},
      {"empty expandable text", [](HKEY Where) { SetText(Where, L"AppPath", REG_EXPAND_SZ, L""); },
       true, "C:\\64-bit view\\"},
      // Nothing in either view is empty text, not an error.
      {"empty text, 64-bit view without the key",
       [](HKEY Where) { SetText(Where, L"AppPath", REG_SZ, L""); }, false, ""},
      // A value in the 32-bit view stands.
      {"a value", [](HKEY Where) { SetText(Where, L"AppPath", REG_SZ, L"C:\\32-bit view\\"); },
       true, "C:\\32-bit view\\"},
  };
  int Index = 0;
  for (const auto& Case : Cases) {
    const std::string Path = KeyPath + "\\Leftover" + std::to_string(Index++);
    if (Case.Native)
      MakeKey(Path, KEY_WOW64_64KEY, [](HKEY Where) { SetText(Where, L"AppPath", REG_SZ, L"C:\\64-bit view\\"); });
    MakeKey(Path, KEY_WOW64_32KEY, Case.Make);
    if (!Case.Native) {
      ASSERT_TRUE(Missing(Path, KEY_WOW64_64KEY));
    }
    EXPECT_EQ(SystemRegistry().ReadString(true, Path, "AppPath"), Case.Expected) << Case.Leftover;
  }
}

}  // namespace

#include "install/uTRegistryMgr_linux.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

#include "common/TextCodec.h"
#include "testing/FakeFileSystem.h"
#include "install/Orvane.h"
#include "testing/TempDirectory_linux.h"
#include "testing/Utf16File.h"

namespace {

const char* const kOrvaneKey = "SOFTWARE\\Kestrix Technologies\\Orvane";

// Registry files of the test's own.
class RegistryOnLinux : public ::testing::Test {
protected:
  TRegistryFileSource RegistryText(const std::string& bytes) {
    return TRegistryFileSource(Dir.Write("registry.reg", bytes));
  }

  TTempDirectory Dir;
  TFakeFileSystem Files;
};

TEST(RegistryFilePath, TheSettingOrTheInstalledFile) {
  EXPECT_EQ(RegistryFilePath(nullptr), "/etc/nagios_orvane_check/registry.reg");
  EXPECT_EQ(RegistryFilePath(""), "/etc/nagios_orvane_check/registry.reg");
  EXPECT_EQ(RegistryFilePath("/tmp/x.reg"), "/tmp/x.reg");
}

TEST_F(RegistryOnLinux, ConstructionReadsAppPathAsStored) {
  TRegistryFileSource registry = RegistryText(Utf16File(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies\\Orvane]\r\n"
      "\"AppPath\"=\"C:\\\\Orvane\\\\App\"\r\n"));
  TOrvane orvane(Files, registry);
  EXPECT_EQ(orvane.DataPath, "C:\\Orvane\\App");  // no separator added
  EXPECT_EQ(orvane.RetryDelay, 500);
  EXPECT_EQ(orvane.RetryCount, 3);
  EXPECT_EQ(orvane.Verbosity, 0);
  EXPECT_TRUE(Files.Attempts.empty());  // construction reads no configuration file
}

TEST_F(RegistryOnLinux, ExpandableTextIsTakenLiterallyAndCutAtItsNul) {
  TRegistryFileSource registry = RegistryText(
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Kestrix Technologies\\Orvane]\n"
      "\"AppPath\"=hex(2):25,00,4f,00,25,00,2f,00,00,00,78,00,00,00\n");
  EXPECT_EQ(TOrvane(Files, registry).DataPath, "%O%/");
}

TEST_F(RegistryOnLinux, AnUnreadableRegistryIsAMissingKey) {
  const std::string fifo = Dir.Path + "/fifo.reg";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    const char* What;
    std::string Path;
  } cases[] = {
      {"missing file", Dir.Path + "/none.reg"},
      {"directory", Dir.Path},
      {"FIFO without a writer", fifo},  // would block a plain open
      {"device", "/dev/null"},
  };
  for (const auto& c : cases) {
    TRegistryFileSource registry(c.Path);
    TRegistryValue value;
    EXPECT_EQ(registry.Query(true, kOrvaneKey, "AppPath", value), TRegistryQuery::KeyMissing)
        << c.What;
    EXPECT_EQ(TOrvane(Files, registry).DataPath, "") << c.What;
  }
}

TEST_F(RegistryOnLinux, ARegistryFilePastTheSizeLimitIsNotRead) {
  // A valid file made larger than any configuration may be (sparse: the
  // size costs no disk).
  const std::string path = Dir.Write(
      "registry.reg",
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\" + std::string(kOrvaneKey) + "]\n\"AppPath\"=\"/srv/\"\n");
  TRegistryFileSource registry(path);
  EXPECT_EQ(TOrvane(Files, registry).DataPath, "/srv/");
  ASSERT_EQ(truncate(path.c_str(), (off_t(16) << 20) + 1), 0);
  TRegistryValue value;
  EXPECT_EQ(registry.Query(true, kOrvaneKey, "AppPath", value), TRegistryQuery::KeyMissing);
  EXPECT_EQ(TOrvane(Files, registry).DataPath, "");
}

TEST_F(RegistryOnLinux, MissingKeyOrValueGivesEmptyText) {
  TRegistryFileSource source = RegistryText(
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies\\Orvane]\n\"Other\"=\"x\"\n");
  TRegistryMgr registry(source);
  EXPECT_EQ(registry.ReadString(true, kOrvaneKey, "AppPath"), "");
  EXPECT_EQ(registry.ReadString(true, "SOFTWARE\\Elsewhere", "AppPath"), "");
  EXPECT_EQ(registry.ReadString(false, kOrvaneKey, "Other"), "");
  EXPECT_EQ(registry.ReadString(true, kOrvaneKey, "OTHER"), "x");
  EXPECT_EQ(TOrvane(Files, source).DataPath, "");
}

TEST_F(RegistryOnLinux, NumberAsAppPathFailsTheConstruction) {
  TRegistryFileSource registry = RegistryText(Utf16File(
      "Windows Registry Editor Version 5.00\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies\\Orvane]\r\n"
      "\"AppPath\"=dword:00000001\r\n"));
  try {
    TOrvane orvane(Files, registry);
    FAIL() << "constructed with DataPath " << orvane.DataPath;
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'AppPath'");
  }
}

}  // namespace

#include "install/uTRegistryMgr.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

#include "common/TextCodec.h"
#include "install/FakeFileSystem.h"
#include "install/Orvane.h"
#include "install/RegistryFile.h"
#include "install/TempDirectory_linux.h"

namespace {

std::string Utf16File(const std::string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : Utf8ToUtf16(text)) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

const char* const kOrvaneKey = "SOFTWARE\\Kestrix Technologies\\Orvane";

// Points the registry at files of the test and puts the setting back after.
class RegistryOnLinux : public ::testing::Test {
protected:
  void SetUp() override {
    const char* saved = std::getenv("ORVANE_REGISTRY_FILE");
    HadSetting = saved != nullptr;
    if (HadSetting) Saved = saved;
  }
  void TearDown() override {
    if (HadSetting)
      setenv("ORVANE_REGISTRY_FILE", Saved.c_str(), 1);
    else
      unsetenv("ORVANE_REGISTRY_FILE");
  }
  void UseRegistry(const std::string& path) { setenv("ORVANE_REGISTRY_FILE", path.c_str(), 1); }
  std::string UseRegistryText(const std::string& bytes) {
    const std::string path = Dir.Write("registry.reg", bytes);
    UseRegistry(path);
    return path;
  }

  TTempDirectory Dir;
  TFakeFileSystem Files;
  bool HadSetting = false;
  std::string Saved;
};

TEST_F(RegistryOnLinux, FilePathComesFromTheEnvironment) {
  unsetenv("ORVANE_REGISTRY_FILE");
  EXPECT_EQ(RegistryFilePath(), "/etc/nagios_orvane_check/registry.reg");
  UseRegistry("");
  EXPECT_EQ(RegistryFilePath(), "/etc/nagios_orvane_check/registry.reg");
  UseRegistry("/tmp/x.reg");
  EXPECT_EQ(RegistryFilePath(), "/tmp/x.reg");
}

TEST_F(RegistryOnLinux, ConstructionReadsAppPathAsStored) {
  UseRegistryText(Utf16File(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies\\Orvane]\r\n"
      "\"AppPath\"=\"C:\\\\Orvane\\\\App\"\r\n"));
  TOrvane orvane(Files);
  EXPECT_EQ(orvane.DataPath, "C:\\Orvane\\App");  // no separator added
  EXPECT_EQ(orvane.RetryDelay, 500);
  EXPECT_EQ(orvane.RetryCount, 3);
  EXPECT_EQ(orvane.Verbosity, 0);
  EXPECT_TRUE(Files.Attempts.empty());  // construction reads no configuration file
}

TEST_F(RegistryOnLinux, ExpandableTextIsTakenLiterallyAndCutAtItsNul) {
  UseRegistryText(
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Kestrix Technologies\\Orvane]\n"
      "\"AppPath\"=hex(2):25,00,4f,00,25,00,2f,00,00,00,78,00,00,00\n");
  EXPECT_EQ(TOrvane(Files).DataPath, "%O%/");
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
    UseRegistry(c.Path);
    TRegistryValue value;
    EXPECT_EQ(QueryRegistryValue(true, kOrvaneKey, "AppPath", value), TRegistryQuery::KeyMissing) << c.What;
    EXPECT_EQ(TOrvane(Files).DataPath, "") << c.What;
  }
}

TEST_F(RegistryOnLinux, ARegistryFilePastTheSizeLimitIsNotRead) {
  // A valid file made larger than any configuration may be (sparse: the
  // size costs no disk).
  const std::string path = UseRegistryText(
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\" + std::string(kOrvaneKey) + "]\n\"AppPath\"=\"/srv/\"\n");
  EXPECT_EQ(TOrvane(Files).DataPath, "/srv/");
  ASSERT_EQ(truncate(path.c_str(), (off_t(16) << 20) + 1), 0);
  TRegistryValue value;
  EXPECT_EQ(QueryRegistryValue(true, kOrvaneKey, "AppPath", value), TRegistryQuery::KeyMissing);
  EXPECT_EQ(TOrvane(Files).DataPath, "");
}

TEST_F(RegistryOnLinux, MissingKeyOrValueGivesEmptyText) {
  UseRegistryText("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies\\Orvane]\n\"Other\"=\"x\"\n");
  TRegistryMgr registry;
  EXPECT_EQ(registry.ReadString(true, kOrvaneKey, "AppPath"), "");
  EXPECT_EQ(registry.ReadString(true, "SOFTWARE\\Elsewhere", "AppPath"), "");
  EXPECT_EQ(registry.ReadString(false, kOrvaneKey, "Other"), "");
  EXPECT_EQ(registry.ReadString(true, kOrvaneKey, "OTHER"), "x");
  EXPECT_EQ(TOrvane(Files).DataPath, "");
}

TEST_F(RegistryOnLinux, NumberAsAppPathFailsTheConstruction) {
  UseRegistryText(Utf16File(
      "Windows Registry Editor Version 5.00\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrix Technologies\\Orvane]\r\n"
      "\"AppPath\"=dword:00000001\r\n"));
  try {
    TOrvane orvane(Files);
    FAIL() << "constructed with DataPath " << orvane.DataPath;
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'AppPath'");
  }
}

}  // namespace

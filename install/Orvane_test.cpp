#include "install/Orvane.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <new>
#include <random>
#include <stdexcept>

#include "testing/FakeFileSystem.h"
#include "testing/FakeRegistry.h"

namespace {

using Lines = std::vector<std::string>;

TFakeRegistry NoRegistry;  // DataPath stays empty

TEST(OrvaneLineValues, Contains) {
  EXPECT_TRUE(TOrvane::Contains("[Ports]", "[Ports]"));
  EXPECT_TRUE(TOrvane::Contains("x[Ports]y", "[Ports]"));
  EXPECT_FALSE(TOrvane::Contains("[ports]", "[Ports]"));
  EXPECT_FALSE(TOrvane::Contains("[Ports", "[Ports]"));
  EXPECT_FALSE(TOrvane::Contains("anything", ""));
  EXPECT_FALSE(TOrvane::Contains("", ""));
}

TEST(OrvaneLineValues, KeyValueTextAndInteger) {
  const struct {
    const char* Line;
    const char* Text;
    int64_t Integer;
  } cases[] = {
      {"SMTPIn=25", "25", 25},
      {"XSMTPIn=26", "26", 26},
      {"smtpin=25", "", 0},
      {"SMTPIn=2 SMTPIn=3", "2 SMTPIn=3", 2},
      {"SMTPIn= 25", " 25", 25},
      {"SMTPIn=25 ;x", "25 ;x", 25},
      {"SMTPIn=", "", 0},
      {"SMTPIn=abc", "abc", 0},
      {"SMTPIn=0x19", "0x19", 25},
      {"SMTPIn=$1F", "$1F", 31},
      {"SMTPIn=-7", "-7", -7},
      {"  SMTPIn=25", "25", 25},
      {"SMTPIn=9223372036854775807", "9223372036854775807",
       std::numeric_limits<int64_t>::max()},
      {"SMTPIn=4294967296", "4294967296", int64_t(1) << 32},
      {"POPIn=110", "", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TOrvane::KeyValueText(c.Line, "SMTPIn="), c.Text) << c.Line;
    EXPECT_EQ(TOrvane::KeyValueInteger(c.Line, "SMTPIn="), c.Integer) << c.Line;
  }
}

class LoadConfigFile : public ::testing::Test {
protected:
  TFakeFileSystem Files;
  TOrvane Orvane{Files, NoRegistry};
  Lines Result{"stale"};

  std::string Failure(const std::string& name) {
    try {
      Orvane.LoadConfigFile(name, Result);
    } catch (const std::runtime_error& e) {
      return e.what();
    }
    return "no failure";
  }
};

TEST_F(LoadConfigFile, ReplacesLinesWithTheKeptLines) {
  Files.Files["Orvane.ini"] = "\xEF\xBB\xBF# ports\r\n[Ports]\r\n\r\n  SMTPIn=26\r\n;x\r\nPOPIn=111\r\n";
  EXPECT_TRUE(Orvane.LoadConfigFile("Orvane.ini", Result));
  EXPECT_EQ(Result, (Lines{"[Ports]", "  SMTPIn=26", "POPIn=111"}));
  EXPECT_EQ(Files.Attempts.size(), 1u);
  EXPECT_TRUE(Files.Sleeps.empty());
}

TEST_F(LoadConfigFile, EmptyOrOnlyCommentsGivesNoLines) {
  Files.Files["empty.ini"] = "";
  Files.Files["comments.ini"] = "; a\n   \n  # b\n";
  EXPECT_TRUE(Orvane.LoadConfigFile("empty.ini", Result));
  EXPECT_TRUE(Result.empty());
  Result = {"stale"};
  EXPECT_TRUE(Orvane.LoadConfigFile("comments.ini", Result));
  EXPECT_TRUE(Result.empty());
}

TEST_F(LoadConfigFile, MissingFileFailsAfterEveryRetry) {
  const std::string name = "C:\\Orvane\\App\\..\\Helmstead\\Helmstead.ini";
  EXPECT_EQ(Failure(name), "Can not read " + name);
  EXPECT_EQ(Files.Attempts, Lines(4, name));
  EXPECT_EQ(Files.Sleeps, (std::vector<int32_t>{500, 500, 500}));
  EXPECT_TRUE(Result.empty());
}

TEST_F(LoadConfigFile, AttemptsAndWaitsFollowTheSettings) {
  const struct {
    int32_t RetryCount, RetryDelay, Busy;
    bool Succeeds;
    size_t Attempts;
    std::vector<int32_t> Sleeps;
  } cases[] = {
      {3, 500, 1, true, 2, {500}},
      {3, 500, 3, true, 4, {500, 500, 500}},
      {3, 500, 4, false, 4, {500, 500, 500}},
      {0, 500, 0, true, 1, {}},
      {0, 500, 1, false, 1, {}},
      {-5, 500, 1, false, 1, {}},
      {std::numeric_limits<int32_t>::min(), 500, 1, false, 1, {}},
      {2, 7, 5, false, 3, {7, 7}},
      {2, 0, 5, false, 3, {}},
      {2, -1, 5, false, 3, {}},  // a negative delay waits not at all
      {2, std::numeric_limits<int32_t>::min(), 1, true, 2, {}},
  };
  for (const auto& c : cases) {
    TFakeFileSystem files;
    files.Files["Orvane.ini"] = "[Ports]\n";
    files.BusyAttempts["Orvane.ini"] = c.Busy;
    TOrvane orvane(files, NoRegistry);
    orvane.RetryCount = c.RetryCount;
    orvane.RetryDelay = c.RetryDelay;
    Lines lines{"stale"};
    bool succeeded = false;
    try {
      succeeded = orvane.LoadConfigFile("Orvane.ini", lines);
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "Can not read Orvane.ini");
    }
    SCOPED_TRACE(testing::Message() << "RetryCount " << c.RetryCount << " RetryDelay "
                                    << c.RetryDelay << " busy " << c.Busy);
    EXPECT_EQ(succeeded, c.Succeeds);
    EXPECT_EQ(lines, succeeded ? Lines{"[Ports]"} : Lines{});
    EXPECT_EQ(files.Attempts.size(), c.Attempts);
    EXPECT_EQ(files.Sleeps, c.Sleeps);
  }
}

// Memory running out while one attempt reads a huge file is one failed
// attempt like any other, not a failure of the whole read.
class TFailingOnceFileSystem : public TFakeFileSystem {
public:
  bool ReadWholeFile(const std::string& FileName, std::string& Bytes) override {
    if (Attempts.empty()) {
      Attempts.push_back(FileName);
      throw std::bad_alloc();
    }
    return TFakeFileSystem::ReadWholeFile(FileName, Bytes);
  }
};

TEST(LoadConfigFileErrors, AnExceptionInOneAttemptIsAFailedAttempt) {
  TFailingOnceFileSystem files;
  files.Files["x.ini"] = "Port=1";
  TOrvane orvane(files, NoRegistry);
  Lines lines;
  EXPECT_TRUE(orvane.LoadConfigFile("x.ini", lines));
  EXPECT_EQ(lines, Lines{"Port=1"});
  EXPECT_EQ(files.Attempts.size(), 2u);
  EXPECT_EQ(files.Sleeps, std::vector<int32_t>{500});
}

TEST_F(LoadConfigFile, ManyMegabytesAndAMillionCharacterLine) {
  std::string text = "[Ports]\r\n" + std::string(1000000, 'k') + "SMTPIn=26\r\n";
  for (int i = 0; i < 200000; ++i) text += "Key" + std::to_string(i) + "=value\r\n";
  Files.Files["big.ini"] = text;
  ASSERT_TRUE(Orvane.LoadConfigFile("big.ini", Result));
  ASSERT_EQ(Result.size(), 200002u);
  EXPECT_EQ(Result[1].size(), 1000009u);
  EXPECT_EQ(Result.back(), "Key199999=value");
}

// On the real file system: far above any real configuration; past it the
// file is not read at all (a 32-bit program could not hold a much larger one).
TEST(ConfigFileSystem, FilesPastTheSizeLimitAreNotRead) {
  const std::filesystem::path name = std::filesystem::temp_directory_path() /
                                     ("orvane-limit-" + std::to_string(std::random_device()()) + ".ini");
  constexpr size_t Limit = size_t(16) << 20;
  const struct {
    const char* What;
    size_t Size;
    bool Read;
  } cases[] = {{"at the limit", Limit, true}, {"one byte past it", Limit + 1, false}};
  for (const auto& c : cases) {
    std::ofstream(name, std::ios::binary) << "[Ports]\r\nSMTPIn=25\r\n";
    std::filesystem::resize_file(name, c.Size);  // sparse where the system allows
    std::string bytes;
    EXPECT_EQ(SystemConfigFileSystem().ReadWholeFile(name.u8string(), bytes), c.Read) << c.What;
    EXPECT_EQ(bytes.size(), c.Read ? c.Size : 0) << c.What;
  }
  std::filesystem::remove(name);
}

}  // namespace

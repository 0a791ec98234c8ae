#include "install/Orvane.h"

#include <gtest/gtest.h>

#include <csignal>
#include <stdexcept>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "testing/FakeRegistry.h"
#include "testing/TempDirectory_linux.h"

namespace {

using Lines = std::vector<std::string>;

TFakeRegistry NoRegistry;  // DataPath stays empty

enum class TLockKind { FcntlWrite, FcntlWriteRange, OfdWrite, FcntlRead, FlockExclusive, FlockShared };

// Another process that locks a file and holds the lock until released, as
// the mail server does while it writes its configuration.
class TLockHolder {
public:
  TLockHolder(const std::string& path, TLockKind kind) {
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) throw std::runtime_error("pipe failed");
    Child = fork();
    if (Child < 0) throw std::runtime_error("fork failed");
    if (Child == 0) {
      close(toChild[1]);
      close(fromChild[0]);
      const bool reader = kind == TLockKind::FcntlRead || kind == TLockKind::FlockShared;
      const int fd = open(path.c_str(), reader ? O_RDONLY : O_RDWR);
      bool locked = fd >= 0;
      if (locked && (kind == TLockKind::FlockExclusive || kind == TLockKind::FlockShared)) {
        locked = flock(fd, (kind == TLockKind::FlockShared ? LOCK_SH : LOCK_EX) | LOCK_NB) == 0;
      } else if (locked) {
        struct flock range = {};
        range.l_whence = SEEK_SET;
        range.l_type = reader ? F_RDLCK : F_WRLCK;
        if (kind == TLockKind::FcntlWriteRange) {
          range.l_start = 2;
          range.l_len = 1;
        }
        locked = fcntl(fd, kind == TLockKind::OfdWrite ? F_OFD_SETLK : F_SETLK, &range) == 0;
      }
      char answer = locked ? '1' : '0';
      if (write(fromChild[1], &answer, 1) != 1) _exit(1);
      // Holds on until the parent closes its end; the exit drops the lock.
      while (read(toChild[0], &answer, 1) > 0) {
      }
      _exit(0);
    }
    close(toChild[0]);
    close(fromChild[1]);
    ToChild = toChild[1];
    char answer = '0';
    Locked = read(fromChild[0], &answer, 1) == 1 && answer == '1';
    close(fromChild[0]);
  }
  ~TLockHolder() { Release(); }
  TLockHolder(const TLockHolder&) = delete;
  TLockHolder& operator=(const TLockHolder&) = delete;

  // Returns once the other process has ended and its lock is gone.
  void Release() {
    if (Child <= 0) return;
    close(ToChild);
    waitpid(Child, nullptr, 0);
    Child = -1;
  }

  bool Locked = false;

private:
  pid_t Child = -1;
  int ToChild = -1;
};

bool Attempt(const std::string& name, std::string& bytes) {
  return SystemConfigFileSystem().ReadWholeFile(name, bytes);
}

// One attempt in a child process, so that an attempt that blocks fails the
// test instead of hanging it: 1 read, 0 failed, -1 still blocked after
// several seconds.
int AttemptInChild(const std::string& name) {
  const pid_t child = fork();
  if (child == 0) {
    std::string bytes;
    _exit(Attempt(name, bytes) ? 1 : 0);
  }
  for (int i = 0; i < 500; ++i) {
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child)
      return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    usleep(10000);
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  return -1;
}

TEST(LinuxConfigFiles, ReadsTheWholeFileByteForByte) {
  TTempDirectory dir;
  std::string content("\xFF\xFE" "a\0b\0\r\0\n\0", 10);
  for (int i = 0; i < 300000; ++i) content += "Key=" + std::to_string(i) + "\n";
  const std::string name = dir.Write("Orvane.ini", content);
  std::string bytes = "stale";
  ASSERT_TRUE(Attempt(name, bytes));
  EXPECT_EQ(bytes, content);
}

TEST(LinuxConfigFiles, BackslashesInTheNameAreSeparators) {
  TTempDirectory dir;
  dir.Write("Lumicourt/Lumicourt.ini", "[WebServer]\nPort=3001\n");
  std::filesystem::create_directories(dir.Path + "/App");
  const std::string name = dir.Path + "\\App\\..\\Lumicourt\\Lumicourt.ini";
  TOrvane orvane(SystemConfigFileSystem(), NoRegistry);
  Lines lines;
  EXPECT_TRUE(orvane.LoadConfigFile(name, lines));
  EXPECT_EQ(lines, (Lines{"[WebServer]", "Port=3001"}));

  // The message keeps the name exactly as formed.
  const std::string missing = dir.Path + "\\App\\..\\Helmstead\\Helmstead.ini";
  orvane.RetryCount = 0;
  try {
    orvane.LoadConfigFile(missing, lines);
    FAIL() << "read a missing file";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(e.what(), "Can not read " + missing);
  }
  EXPECT_TRUE(lines.empty());
}

TEST(LinuxConfigFiles, OnlyRegularFilesAreReadAndNothingBlocks) {
  TTempDirectory dir;
  const std::string fifo = dir.Path + "/fifo.ini";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string regular = dir.Write("Orvane.ini", "x");
  const struct {
    const char* What;
    std::string Name;
    int Expected;
  } cases[] = {
      {"regular file", regular, 1},
      {"directory", dir.Path, 0},
      {"FIFO without a writer", fifo, 0},
      {"empty device", "/dev/null", 0},
      {"endless device", "/dev/zero", 0},
      {"missing file", dir.Path + "/none.ini", 0},
      {"empty name", "", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(AttemptInChild(c.Name), c.Expected) << c.What;
}

TEST(LinuxConfigFiles, FileWithoutReadPermissionFails) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads any file";
  TTempDirectory dir;
  const std::string name = dir.Write("Orvane.ini", "x");
  ASSERT_EQ(chmod(name.c_str(), 0), 0);
  std::string bytes;
  EXPECT_FALSE(Attempt(name, bytes));
}

TEST(LinuxConfigFiles, AWriterLockMakesTheAttemptFailAReaderLockDoesNot) {
  const struct {
    const char* What;
    TLockKind Kind;
    bool ReadableWhileHeld;
  } cases[] = {
      {"fcntl write lock", TLockKind::FcntlWrite, false},
      {"fcntl write lock on a few bytes", TLockKind::FcntlWriteRange, false},
      {"open-file-description write lock", TLockKind::OfdWrite, false},
      {"flock exclusive", TLockKind::FlockExclusive, false},
      {"fcntl read lock", TLockKind::FcntlRead, true},
      {"flock shared", TLockKind::FlockShared, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    TTempDirectory dir;
    const std::string name = dir.Write("Orvane.ini", "[Ports]\nSMTPIn=26\n");
    TLockHolder holder(name, c.Kind);
    ASSERT_TRUE(holder.Locked);
    std::string bytes;
    EXPECT_EQ(Attempt(name, bytes), c.ReadableWhileHeld);
    holder.Release();
    EXPECT_TRUE(Attempt(name, bytes));
    EXPECT_EQ(bytes, "[Ports]\nSMTPIn=26\n");
  }
}

// The real file system, with the writer finishing during the first wait.
class TWriterFinishesDuringTheWait : public TConfigFileSystem {
public:
  explicit TWriterFinishesDuringTheWait(TLockHolder& Writer) : Writer(Writer) {}
  bool ReadWholeFile(const std::string& FileName, std::string& Bytes) override {
    ++Attempts;
    return SystemConfigFileSystem().ReadWholeFile(FileName, Bytes);
  }
  void Sleep(int32_t Milliseconds) override {
    Sleeps.push_back(Milliseconds);
    Writer.Release();
  }
  TLockHolder& Writer;
  int Attempts = 0;
  std::vector<int32_t> Sleeps;
};

TEST(LinuxConfigFiles, TheRetryRidesOverAWriter) {
  for (TLockKind kind : {TLockKind::FcntlWrite, TLockKind::FlockExclusive}) {
    TTempDirectory dir;
    const std::string name = dir.Write("Orvane.ini", "[Ports]\r\nSMTPIn=26\r\n");
    TLockHolder writer(name, kind);
    ASSERT_TRUE(writer.Locked);
    TWriterFinishesDuringTheWait files(writer);
    TOrvane orvane(files, NoRegistry);
    orvane.RetryDelay = 50;
    Lines lines;
    EXPECT_TRUE(orvane.LoadConfigFile(name, lines));
    EXPECT_EQ(lines, (Lines{"[Ports]", "SMTPIn=26"}));
    EXPECT_EQ(files.Attempts, 2);
    EXPECT_EQ(files.Sleeps, std::vector<int32_t>{50});
  }
}

// Without a byte-order mark the text is in the ANSI code page, which on
// Linux is UTF-8; bytes that are no UTF-8 must not abort the read.
TEST(LinuxConfigFiles, TextWithoutMarkIsUtf8WithInvalidBytesReplaced) {
  const struct {
    std::string Bytes, Text;
  } cases[] = {
      {"Port=\xC3\xA9", "Port=\xC3\xA9"},
      {"a\xE9z", "a\xEF\xBF\xBDz"},
      {"Port=\xC3", "Port=\xEF\xBF\xBD"},
      {"\xFF" "a", "\xEF\xBF\xBD" "a"},  // half a byte-order mark is text
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // an encoded surrogate
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeConfigText(c.Bytes), c.Text) << c.Bytes;
}

}  // namespace

#include "common/BoundedRead.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

// /proc files claim size 0: the read itself must stop past the limit.
TEST(BoundedReadLinux, FilesThatClaimNoSizeStopAtTheLimit) {
  const struct {
    size_t Limit;
    bool Read;
  } Cases[] = {{ProcStatusFileSizeLimit, true}, {16, false}};
  for (const auto& Case : Cases) {
    std::string Bytes;
    errno = 0;
    EXPECT_EQ(ReadBoundedFile("/proc/self/status", Case.Limit, Bytes), Case.Read) << Case.Limit;
    EXPECT_EQ(Bytes.find("Name:") == 0, Case.Read) << Case.Limit;
    EXPECT_EQ(errno, Case.Read ? 0 : EFBIG) << Case.Limit;
  }
}

}  // namespace

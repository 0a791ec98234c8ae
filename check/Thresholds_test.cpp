#include "check/Thresholds.h"

#include "check/Status.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The ranges of the monitoring plugins' guidelines, with the counts around
// their bounds: which of them alert.
TEST(Thresholds, RangesAlertWhereTheGuidelinesSay) {
  const struct {
    const char* Text;
    std::vector<int64_t> Alerting, Quiet;
  } Cases[] = {
      {"10:", {-1, 0, 9}, {10, 11, 1000000}},
      {"~:10", {11, 1000000}, {-1000000, 0, 10}},
      {"10:20", {-1, 9, 21}, {10, 15, 20}},
      {"@10:20", {10, 15, 20}, {9, 21}},
      {"@10", {0, 5, 10}, {-1, 11}},
      {":10", {-1, 11}, {0, 10}},
      {"  @~:-5", {-6, -5}, {-4, 0}},
      {"-20:-10", {-21, -9, 0}, {-20, -10}},
  };
  for (const auto& Case : Cases) {
    TRange Range;
    ASSERT_TRUE(IsRangeText(Case.Text)) << Case.Text;
    ASSERT_TRUE(ParseRange(Case.Text, Range)) << Case.Text;
    for (int64_t Count : Case.Alerting) EXPECT_TRUE(RangeReached(Range, Count)) << Case.Text << " " << Count;
    for (int64_t Count : Case.Quiet) EXPECT_FALSE(RangeReached(Range, Count)) << Case.Text << " " << Count;
  }
  TRange Range;
  ASSERT_TRUE(ParseRange("  @10:20", Range));
  EXPECT_EQ(Range.Text, "@10:20") << "written to the performance data as given";
}

TEST(Thresholds, TextsThatStartLikeARangeMustBeOne) {
  for (const char* Text : {"10:abc", "5:2", "@", ":", "~", "~:", "~5", "@@5", "1:2:3", "@-1",
                           "10 :20", "x:5", "1234567890123456789:"}) {
    TRange Range;
    EXPECT_TRUE(IsRangeText(Text)) << Text;
    EXPECT_FALSE(ParseRange(Text, Range)) << Text;
  }
  // The classic values stay numbers, whatever follows their digits.
  for (const char* Text : {"10", "0", "-5", " 10", "10abc", "", "4294967305"})
    EXPECT_FALSE(IsRangeText(Text)) << Text;
}

}  // namespace

namespace {

// The combining rule of every verdict: CRITICAL above UNKNOWN above WARNING
// above OK, whichever comes first.
TEST(Status, WorstOfTwo) {
  const TStatus Order[] = {ExitOk, ExitWarning, ExitUnknown, ExitCritical};
  for (int A = 0; A < 4; ++A)
    for (int B = 0; B < 4; ++B) {
      EXPECT_EQ(WorstStatus(Order[A], Order[B]), Order[A > B ? A : B]) << A << " " << B;
      EXPECT_EQ(WorstStatus(Order[B], Order[A]), Order[A > B ? A : B]) << B << " " << A;
    }
}

}  // namespace

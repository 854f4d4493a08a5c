#include "engine/permutations.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <ostream>
#include <string>

#include "engine/engine_test_fixture.h"
#include "engine/index_stack.h"

namespace {

struct SmallCount {
  int count;
  const char* lines;
};

// Shown by its count in test names and failures, not as raw bytes.
void PrintTo(const SmallCount& param, std::ostream* out) { *out << "N=" << param.count; }

class SmallCountTest : public EngineTest, public ::testing::WithParamInterface<SmallCount> {};

TEST_P(SmallCountTest, WritesExactlyTheseLinesToBothStreams) {
  n = GetParam().count;
  permute();
  EXPECT_EQ(console(), GetParam().lines);
  EXPECT_EQ(listing_text(), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Counts, SmallCountTest,
                         ::testing::Values(SmallCount{1, "1\n"}, SmallCount{2, "1,2\n2,1\n"},
                                           SmallCount{3,
                                                      "1,2,3\n1,3,2\n2,1,3\n"
                                                      "2,3,1\n3,1,2\n3,2,1\n"}),
                         [](const auto& test) { return "N" + std::to_string(test.param.count); });

using PermuteTest = EngineTest;

TEST_F(PermuteTest, FailedListingWriteMarksTheStreamWhileTheConsoleGoesOn) {
  listing.close();
  listing.open("/dev/full", std::ios::out);
  if (!listing.is_open()) GTEST_SKIP() << "no /dev/full here";
  n = 3;
  permute();
  EXPECT_TRUE(listing.bad());
  EXPECT_EQ(console(), "1,2,3\n1,3,2\n2,1,3\n2,3,1\n3,1,2\n3,2,1\n");
  EXPECT_EQ(sum, 6);
}

class EveryCountTest : public EngineTest, public ::testing::WithParamInterface<int> {};

// Parses one listing line into |values|; false unless it is |count| decimal
// numbers separated by single commas.
bool parse_line(const std::string& line, int count, std::array<int, STACK_SIZE>& values) {
  std::size_t at = 0;
  for (int i = 0; i < count; ++i) {
    if (i > 0 && (at >= line.size() || line[at++] != ',')) return false;
    const std::size_t start = at;
    int value = 0;
    while (at < line.size() && line[at] >= '0' && line[at] <= '9') {
      value = value * 10 + (line[at++] - '0');
    }
    if (at == start || line[start] == '0') return false;
    values[static_cast<std::size_t>(i)] = value;
  }
  return at == line.size();
}

TEST_P(EveryCountTest, ListsEveryOrderingOnceInIncreasingOrder) {
  const int count = GetParam();
  n = count;
  permute();

  const std::string text = console();
  EXPECT_TRUE(text == listing_text()) << "the console and the listing differ";
  EXPECT_EQ(top, 0);
  EXPECT_TRUE(std::all_of(std::begin(used), std::end(used), [](int flag) { return flag == 0; }));

  int factorial = 1;
  for (int i = 2; i <= count; ++i) factorial *= i;
  EXPECT_EQ(sum, factorial);

  // Strictly increasing orderings of 1..count, factorial of them, are every
  // ordering exactly once.
  std::array<int, STACK_SIZE> previous{};
  std::array<int, STACK_SIZE> current{};
  int lines = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "unterminated last line";
    const std::string line = text.substr(start, end - start);
    ASSERT_TRUE(parse_line(line, count, current)) << "line " << lines + 1 << ": " << line;

    std::array<int, STACK_SIZE> sorted = current;
    std::sort(sorted.begin(), sorted.begin() + count);
    for (int i = 0; i < count; ++i) {
      ASSERT_EQ(sorted[static_cast<std::size_t>(i)], i + 1) << "not an ordering: " << line;
    }
    if (lines > 0) {
      ASSERT_TRUE(std::lexicographical_compare(previous.begin(), previous.begin() + count,
                                               current.begin(), current.begin() + count))
          << "out of order at line " << lines + 1 << ": " << line;
    }
    previous = current;
    ++lines;
    start = end + 1;
  }
  EXPECT_EQ(lines, factorial);
}

INSTANTIATE_TEST_SUITE_P(Counts, EveryCountTest, ::testing::Range(1, STACK_SIZE + 1));

}  // namespace

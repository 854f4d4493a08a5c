#include "engine/index_stack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <iterator>
#include <vector>

#include "engine/engine_test_fixture.h"

namespace {

// A copy of the whole stack state, to show that an operation left it alone.
struct Snapshot {
  std::vector<int> slots{std::begin(stack), std::end(stack)};
  int depth = top;
  std::vector<int> flags{std::begin(used), std::end(used)};

  bool operator==(const Snapshot& other) const {
    return slots == other.slots && depth == other.depth && flags == other.flags;
  }
};

std::vector<int> flags() { return {std::begin(used), std::end(used)}; }

using IndexStackTest = EngineTest;

TEST_F(IndexStackTest, PushAndPopAreLastInFirstOutAndKeepTheFlags) {
  push(2);
  push(0);
  push(1);
  EXPECT_EQ(top, 3);
  EXPECT_EQ(flags(), (std::vector<int>{1, 1, 1, 0, 0, 0, 0, 0, 0, 0}));

  EXPECT_EQ(pop(), 1);
  EXPECT_EQ(flags(), (std::vector<int>{1, 0, 1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(pop(), 0);
  EXPECT_EQ(pop(), 2);
  EXPECT_EQ(top, 0);
  EXPECT_EQ(flags(), std::vector<int>(STACK_SIZE, 0));
  EXPECT_EQ(console(), "");
}

TEST_F(IndexStackTest, PoppedIndexIsFreeAgain) {
  push(3);
  ASSERT_EQ(used[3], 1);
  EXPECT_EQ(pop(), 3);
  EXPECT_EQ(used[3], 0);
  EXPECT_EQ(top, 0);
}

TEST_F(IndexStackTest, PopOnEmptyStackReturnsZeroAndChangesNothing) {
  // A stale flag for index 0 shows whether the pop touched it.
  used[0] = 1;
  const Snapshot before;
  EXPECT_EQ(pop(), 0);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(IndexStackTest, FullStackReportsOnceAndDropsThePush) {
  for (int i = STACK_SIZE - 1; i >= 0; --i) push(i);
  ASSERT_EQ(top, STACK_SIZE);
  ASSERT_EQ(console(), "");
  const Snapshot before;

  push(4);
  EXPECT_EQ(console(), "stack full.\n");
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(pop(), 0);
}

TEST_F(IndexStackTest, IndexWithoutAFlagIsDroppedSilently) {
  push(5);
  const Snapshot before;
  for (const int index : {-1, STACK_SIZE, INT_MIN, INT_MAX}) {
    push(index);
    EXPECT_EQ(Snapshot(), before) << "index " << index;
  }
  EXPECT_EQ(console(), "");
}

}  // namespace

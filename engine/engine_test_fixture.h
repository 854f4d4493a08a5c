// A test fixture that gives every engine test a fresh program state: an empty
// stack with every flag clear, n and sum at 0, standard output captured in
// memory and the listing open on a file of its own.
#ifndef ENGINE_ENGINE_TEST_FIXTURE_H_
#define ENGINE_ENGINE_TEST_FIXTURE_H_

#include <gtest/gtest.h>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "engine/index_stack.h"
#include "engine/permutations.h"

// Unique among the processes running at the same time, so that two test runs,
// from two checkouts or two build folders, never share a listing file.
inline long process_id() {
#ifdef _WIN32
  return _getpid();
#else
  return static_cast<long>(getpid());
#endif
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::fill(std::begin(stack), std::end(stack), 0);
    std::fill(std::begin(used), std::end(used), 0);
    top = 0;
    n = 0;
    sum = 0;
    saved_cout_ = std::cout.rdbuf(console_.rdbuf());

    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = ::testing::TempDir() + "listing-" + std::to_string(process_id()) + "-" +
            info->test_suite_name() + "-" + info->name();
    std::replace(path_.begin() + static_cast<std::ptrdiff_t>(::testing::TempDir().size()),
                 path_.end(), '/', '_');
    listing.open(path_, std::ios::out);
    ASSERT_TRUE(listing.is_open()) << path_;
  }

  void TearDown() override {
    std::cout.rdbuf(saved_cout_);
    listing.close();
    listing.clear();
    std::remove(path_.c_str());
  }

  // What the code under test wrote to standard output so far.
  std::string console() const { return console_.str(); }

  // Closes the listing and returns its text, line endings read back as "\n".
  std::string listing_text() {
    listing.close();
    EXPECT_FALSE(listing.fail()) << "listing writes failed";
    std::ifstream file(path_);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

 private:
  std::ostringstream console_;
  std::streambuf* saved_cout_ = nullptr;
  std::string path_;
};

#endif  // ENGINE_ENGINE_TEST_FIXTURE_H_

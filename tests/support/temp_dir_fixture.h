// A test fixture with a fresh folder of its own, removed with everything in it
// after the test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/files.h"

class TempDirFixture : public ::testing::Test {
 protected:
  // prefix names the folder (see make_temp_dir), so that a leftover tells
  // which test left it.
  explicit TempDirFixture(const char *prefix) : prefix(prefix) {}

  std::string dir;

  void SetUp() override {
    dir = make_temp_dir(prefix);
    ASSERT_FALSE(dir.empty());
  }
  void TearDown() override {
    if (!dir.empty()) remove_tree(dir);
  }

 private:
  std::string prefix;
};

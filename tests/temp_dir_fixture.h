// A test fixture with a fresh folder of its own under /tmp, removed with
// everything in it after the test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

class TempDirFixture : public ::testing::Test {
 protected:
  // prefix names the folder: /tmp/PREFIX_XXXXXX, so that a leftover tells
  // which test left it.
  explicit TempDirFixture(const char *prefix) : prefix(prefix) {}

  std::string dir;

  void SetUp() override {
    std::string name = "/tmp/" + prefix + "_XXXXXX";
    ASSERT_NE(mkdtemp(&name[0]), nullptr);
    dir = name;
  }
  void TearDown() override {
    if (!dir.empty()) std::filesystem::remove_all(dir);
  }

 private:
  std::string prefix;
};

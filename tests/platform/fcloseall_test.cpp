// _fcloseall closes the files a command opened and left open, and only those.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "platform/safe_start.h"

namespace {

bool descriptor_open(int fd) {
  return fcntl(fd, F_GETFD) != -1;
}

std::string temporary_file(const char *name) {
  std::string path = ::testing::TempDir() + name;
  FILE *file = fopen(path.c_str(), "w");
  if (file != nullptr) fclose(file);
  return path;
}

TEST(FcloseAll, ClosesTheFilesLeftOpenButNotTheStandardStreams) {
  std::string path = temporary_file("fcloseall_data.txt");
  FILE *first = open_regular_file(path.c_str(), "r");
  FILE *second = open_regular_file(path.c_str(), "r");
  FILE *closed_by_its_reader = open_regular_file(path.c_str(), "r");
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  ASSERT_NE(nullptr, closed_by_its_reader);
  int first_fd = fileno(first), second_fd = fileno(second);
  EXPECT_EQ(0, close_regular_file(closed_by_its_reader));

  EXPECT_EQ(2, _fcloseall());  // the one closed already is not closed twice

  EXPECT_FALSE(descriptor_open(first_fd));
  EXPECT_FALSE(descriptor_open(second_fd));
  EXPECT_GE(printf("stdout still works\n"), 0);
  EXPECT_GE(fprintf(stderr, "stderr still works\n"), 0);
  EXPECT_EQ(0, ferror(stdout));
  EXPECT_TRUE(descriptor_open(STDIN_FILENO));
  EXPECT_EQ(0, _fcloseall());  // nothing left to close
}

TEST(FcloseAll, RefusedOpeningsLeaveNothingToClose) {
  std::string directory = ::testing::TempDir();
  for (const char *path : {directory.c_str(), "/dev/null", "/no/such/file"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(nullptr, open_regular_file(path, "r"));
  }
  EXPECT_EQ(0, _fcloseall());
}

}  // namespace

// _fcloseall closes the files a command left open, and only those.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "platform/platform.h"

namespace {

bool descriptor_open(int fd) {
  return fcntl(fd, F_GETFD) != -1;
}

TEST(FcloseAll, ClosesOpenedFilesButNotTheStandardStreams) {
  FILE *first = fopen("/dev/null", "r");
  FILE *second = tmpfile();
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  int first_fd = fileno(first), second_fd = fileno(second);
  ASSERT_TRUE(descriptor_open(first_fd));

  EXPECT_EQ(2, _fcloseall());

  EXPECT_FALSE(descriptor_open(first_fd));
  EXPECT_FALSE(descriptor_open(second_fd));
  EXPECT_GE(printf("stdout still works\n"), 0);
  EXPECT_GE(fprintf(stderr, "stderr still works\n"), 0);
  EXPECT_EQ(0, ferror(stdout));
  EXPECT_TRUE(descriptor_open(STDIN_FILENO));
  EXPECT_EQ(0, _fcloseall());  // nothing left to close
}

}  // namespace

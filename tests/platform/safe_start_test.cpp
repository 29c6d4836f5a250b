// The start both programs make, and the only-regular-files open: what a
// hostile caller or path leaves them with.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/safe_start.h"
#include "tests/support/files.h"
#include "services/file_errors.h"

namespace {

// Runs body in a child process; its exit code.
int in_child(void (*body)(void)) {
  pid_t child = fork();
  if (child == 0) {
    body();
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST(SafeStart, ClosedStandardDescriptorsAreOpenedOnTheNullDevice) {
  int code = in_child([] {
    close(0);
    close(1);
    close(2);
    platform_safe_start();
    // What the program opens next (a port, a file) must not become 0, 1 or 2.
    int next = open("/dev/null", O_RDONLY);
    if (next <= 2) _exit(1);
    for (int fd = 0; fd <= 2; fd++) {
      struct stat status;
      if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) _exit(2);
    }
    if (write(1, "x", 1) != 1) _exit(3);
  });
  EXPECT_EQ(code, 0);
}

TEST(SafeStart, OnlyTheClosedOneIsReplaced) {
  int code = in_child([] {
    int kept = dup(2);
    close(1);
    platform_safe_start();
    struct stat before, after;
    fstat(kept, &before);
    fstat(2, &after);
    if (before.st_ino != after.st_ino || before.st_dev != after.st_dev) _exit(1);
    if (open("/dev/null", O_RDONLY) <= 2) _exit(2);
  });
  EXPECT_EQ(code, 0);
}

TEST(SafeStart, AReaderThatWentAwayDoesNotEndTheProcess) {
  int code = in_child([] {
    platform_safe_start();
    int ends[2];
    if (pipe(ends) != 0) _exit(1);
    close(ends[0]);
    if (write(ends[1], "x", 1) != -1 || errno != EPIPE) _exit(2);
  });
  EXPECT_EQ(code, 0) << "a code above 100 is the signal that ended it";
}

// ---------------------------------------------------------------- regular files

class RegularFile : public testing::Test {
 protected:
  std::string dir;
  void SetUp() override {
    dir = make_temp_dir("regular_file");
    ASSERT_FALSE(dir.empty());
  }
  void TearDown() override {
    std::string command = "rm -rf '" + dir + "'";
    EXPECT_EQ(system(command.c_str()), 0);
  }
};

struct PathCase {
  const char *what;
  const char *name;  // in the test's folder, or an absolute path
  const char *mode;
  int error;  // 0: opens
};

const PathCase path_cases[] = {
    {"an existing file, read", "file.txt", "r", 0},
    {"an existing file, written", "file.txt", "w", 0},
    {"a file through a symbolic link", "link.txt", "r", 0},
    {"a new file, written", "new.txt", "w", 0},
    {"a missing file, read", "missing.txt", "r", ENOENT},
    {"a directory, read", "sub", "r", EISDIR},
    {"a directory, written", "sub", "w", EISDIR},
    {"a FIFO without a writer, read", "fifo", "r", ENOTREGULAR},
    {"a FIFO without a reader, written", "fifo", "w", ENXIO},
    {"an endless device, read", "/dev/zero", "r", ENOTREGULAR},
    {"a full device, written", "/dev/full", "w", ENOTREGULAR},
};

TEST_F(RegularFile, OnlyRegularFilesOpenAndNothingBlocks) {
  FILE *seed = fopen((dir + "/file.txt").c_str(), "w");
  ASSERT_NE(seed, nullptr);
  fputs("CV 1 = 2\n", seed);
  fclose(seed);
  ASSERT_EQ(symlink((dir + "/file.txt").c_str(), (dir + "/link.txt").c_str()), 0);
  ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0700), 0);
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
  for (const PathCase &c : path_cases) {
    SCOPED_TRACE(c.what);
    std::string path = c.name[0] == '/' ? c.name : dir + "/" + c.name;
    errno = 0;
    FILE *file = open_regular_file(path.c_str(), c.mode);
    if (c.error == 0) {
      ASSERT_NE(file, nullptr) << strerror(errno);
      // Reads and writes wait as usual again.
      EXPECT_EQ(fcntl(fileno(file), F_GETFL) & O_NONBLOCK, 0);
      close_regular_file(file);
    } else {
      EXPECT_EQ(file, nullptr);
      EXPECT_EQ(errno, c.error) << file_error_text(errno);
    }
  }
}

TEST_F(RegularFile, AFifoWithAWriterIsRefusedToo) {
  std::string path = dir + "/fifo";
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  int writer = open(path.c_str(), O_RDWR);
  ASSERT_GE(writer, 0);
  EXPECT_EQ(open_regular_file(path.c_str(), "r"), nullptr);
  EXPECT_EQ(errno, ENOTREGULAR);
  EXPECT_EQ(open_regular_file(path.c_str(), "w"), nullptr);
  EXPECT_EQ(errno, ENOTREGULAR);
  close(writer);
}

TEST(FileErrorText, NamesTheRefusalAndTheSystemsErrors) {
  EXPECT_STREQ(file_error_text(ENOTREGULAR), "Not a regular file");
  EXPECT_STREQ(file_error_text(EISDIR), strerror(EISDIR));
  EXPECT_STREQ(file_error_text(ENOSPC), strerror(ENOSPC));
}

}  // namespace

// The file that takes its target's place only when complete, on both builds:
// it never lands on a file that appeared meanwhile unless replacing was agreed,
// and the lines of a job that could not finish are kept beside the real file
// under a free name that fits, never replacing anything.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "services/file_replace.h"
#include "services/file_replace_names.h"
#include "platform/safe_start.h"
#include "tests/support/temp_dir_fixture.h"

namespace {

namespace fs = std::filesystem;

// Two lines as the file holds them: the Windows build ends them with CR LF.
#ifdef _WIN32
const char LINES[] = "CV   1  =   3 (b0000 0011)\r\nCV   1a =   4 (b0000 0100)\r\n";
#else
const char LINES[] = "CV   1  =   3 (b0000 0011)\nCV   1a =   4 (b0000 0100)\n";
#endif

class FileReplace : public TempDirFixture {
 protected:
  FileReplace() : TempDirFixture("file_replace") {}
  void TearDown() override {
    replacement_abandon();
    TempDirFixture::TearDown();
  }
  // Opens the new file for target and writes the two lines.
  void open_and_write(const std::string &target, int may_replace, int worth) {
    ASSERT_EQ(replacement_open(target.c_str(), may_replace), 0) << strerror(errno);
    ASSERT_EQ(replacement_line(worth, "CV %3d  = %3d (b%s)\n", 1, 3, "0000 0011"), 0);
    ASSERT_EQ(replacement_line(worth, "CV %3da = %3d (b%s)\n", 1, 4, "0000 0100"), 0);
  }
  // The names in the folder, sorted.
  std::vector<std::string> names(const std::string &folder) {
    std::vector<std::string> found;
    for (const auto &entry : fs::directory_iterator(folder)) {
      found.push_back(entry.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  }
};

// ---------------------------------------------------------------- the final step

enum Appears { NOTHING, A_FILE, A_FOLDER, A_FIFO };

struct CommitCase {
  const char *what;
  bool there_before;  // a file at the target when the new file is opened
  Appears appears;    // what appears at the target before the commit
  int may_replace;
  int worth;         // the lines are worth keeping
  int error;         // errno of the commit; 0: it succeeds
  const char *kept;  // the name abandon keeps the lines under, or null
};

const CommitCase commit_cases[] = {
    {"nothing there", false, NOTHING, 0, 1, 0, nullptr},
    {"a file appears", false, A_FILE, 0, 0, EEXIST, "f.txt.teil"},
    {"a file appears, replacing agreed", false, A_FILE, 1, 0, 0, nullptr},
    {"a file there, replacing agreed", true, NOTHING, 1, 0, 0, nullptr},
    {"a file there, replacing not agreed", true, NOTHING, 0, 0, EEXIST, "f.txt.teil"},
    {"a folder appears", false, A_FOLDER, 0, 1, EEXIST, "f.txt.teil"},
    {"a folder appears, replacing agreed", false, A_FOLDER, 1, 1, EISDIR, "f.txt.teil"},
    {"a folder appears, agreed, nothing worth keeping", false, A_FOLDER, 1, 0, EISDIR, nullptr},
#ifndef _WIN32
    {"a FIFO appears", false, A_FIFO, 0, 1, EEXIST, "f.txt.teil"},
    {"a FIFO appears, replacing agreed", false, A_FIFO, 1, 1, ENOTREGULAR, "f.txt.teil"},
#endif
};

void make_appear(const std::string &path, Appears what) {
  if (what == A_FILE) write_text(path, "USER DATA\n");
  if (what == A_FOLDER) fs::create_directory(path);
#ifndef _WIN32
  if (what == A_FIFO) {
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  }
#endif
}

TEST_F(FileReplace, TheNewFileReplacesOnlyWhatTheUserAgreedTo) {
  for (const CommitCase &c : commit_cases) {
    SCOPED_TRACE(c.what);
    remove_tree(dir + "/d");
    fs::create_directory(dir + "/d");
    std::string target = dir + "/d/f.txt";
    if (c.there_before) write_text(target, "USER DATA\n");
    open_and_write(target, c.may_replace, c.worth);
    make_appear(target, c.appears);
    int result = replacement_commit();
    int error = errno;
    const char *kept = replacement_abandon();
    if (c.error == 0) {
      EXPECT_EQ(result, 0) << strerror(error);
      EXPECT_EQ(read_text(target), LINES);
      EXPECT_EQ(names(dir + "/d"), std::vector<std::string>{"f.txt"}) << "nothing beside it";
      continue;
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(error, c.error) << strerror(error);
    if (c.appears == A_FILE || c.there_before) {
      EXPECT_EQ(read_text(target), "USER DATA\n");
    }
    if (c.appears == A_FOLDER) {
      EXPECT_TRUE(fs::is_directory(target));
    }
    if (c.kept == nullptr) {
      EXPECT_EQ(kept, nullptr);
      EXPECT_EQ(names(dir + "/d"), std::vector<std::string>{"f.txt"});
      continue;
    }
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(std::string(kept), dir + "/d/" + c.kept);
    EXPECT_EQ(read_text(kept), LINES);
    EXPECT_EQ(names(dir + "/d"), (std::vector<std::string>{"f.txt", c.kept}));
  }
}

// ---------------------------------------------------------------- the kept lines' name

struct KeepCase {
  const char *what;
  std::string leaf;                // the target's name in the folder
  std::vector<std::string> taken;  // names already there (a trailing "/": a folder)
  std::string kept;                // the name the lines are kept under
};

#ifdef _WIN32
const std::string UMLAUTS =
    "Gr\xFC\xDF"
    "e";  // the A calls take the ANSI code page
#else
const std::string UMLAUTS =
    "Gr\xC3\xBC\xC3\x9F"
    "e";
#endif

std::vector<KeepCase> keep_cases() {
  std::vector<KeepCase> cases = {
      {"no name taken", "f.txt", {}, "f.txt.teil"},
      {"NAME.teil taken", "f.txt", {"f.txt.teil"}, "f.txt.2.teil"},
      {"NAME.teil and NAME.2.teil taken", "f.txt", {"f.txt.teil", "f.txt.2.teil"}, "f.txt.3.teil"},
      {"NAME.teil a folder", "f.txt", {"f.txt.teil/"}, "f.txt.2.teil"},
      {"nine taken",
       "f.txt",
       {"f.txt.teil", "f.txt.2.teil", "f.txt.3.teil", "f.txt.4.teil", "f.txt.5.teil",
        "f.txt.6.teil", "f.txt.7.teil", "f.txt.8.teil", "f.txt.9.teil"},
       "f.txt.10.teil"},
      {"a name with umlauts", UMLAUTS + ".txt", {UMLAUTS + ".txt.teil"}, UMLAUTS + ".txt.2.teil"},
      {"a name with a space and no dot", "alte Werte", {}, "alte Werte.teil"},
  };
#ifndef _WIN32
  // NAME_MAX is 255 here: NAME.teil of a 251-character name is too long.
  std::string long_name(251, 'x');
  cases.push_back(
      {"a name too long for the suffix", long_name, {}, std::string(250, 'x') + ".teil"});
  cases.push_back({"its shorter name taken",
                   long_name,
                   {std::string(250, 'x') + ".teil"},
                   std::string(248, 'x') + ".2.teil"});
  std::string long_umlauts = "x";
  for (int i = 0; i < 126; i++) long_umlauts += "\xC3\xA4";
  std::string cut_umlauts = "x";
  for (int i = 0; i < 124; i++) cut_umlauts += "\xC3\xA4";
  cases.push_back({"cut before a whole character", long_umlauts, {}, cut_umlauts + ".teil"});
#endif
  return cases;
}

void make_taken(const std::string &folder, const std::string &name) {
  if (name.back() == '/') {
    ASSERT_TRUE(fs::create_directory(folder + "/" + name.substr(0, name.size() - 1)));
  } else {
    write_text(folder + "/" + name, "TAKEN\n");
  }
}

TEST_F(FileReplace, TheLinesAreKeptUnderAFreeNameThatFitsAndReplaceNothing) {
  for (const KeepCase &c : keep_cases()) {
    SCOPED_TRACE(c.what);
    remove_tree(dir + "/d");
    fs::create_directory(dir + "/d");
    for (const std::string &name : c.taken) make_taken(dir + "/d", name);
    std::string target = dir + "/d/" + c.leaf;
    write_text(target, "OLD\n");
    open_and_write(target, 1, 1);
    const char *kept = replacement_abandon();
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(std::string(kept), dir + "/d/" + c.kept);
    EXPECT_EQ(read_text(dir + "/d/" + c.kept), LINES);
    EXPECT_EQ(read_text(target), "OLD\n");
    for (const std::string &name : c.taken) {
      if (name.back() != '/') {
        EXPECT_EQ(read_text(dir + "/d/" + name), "TAKEN\n") << name;
      }
    }
  }
}

// Lines not worth keeping (a backup's, before the receiver is touched) leave
// nothing behind when the job cannot finish.
TEST_F(FileReplace, NothingWorthKeepingLeavesNothingBehind) {
  std::string target = dir + "/f.txt";
  open_and_write(target, 0, 0);
  EXPECT_EQ(replacement_abandon(), nullptr);
  EXPECT_TRUE(names(dir).empty());
}

// With every name taken the lines stay in the new file, and that is named.
TEST_F(FileReplace, WhenNoNameIsFreeTheNewFileStaysAndIsNamed) {
  write_text(dir + "/f.txt.teil", "TAKEN\n");
  for (int number = 2; number <= PARTIAL_NAMES; number++) {
    write_text(dir + "/f.txt." + std::to_string(number) + ".teil", "TAKEN\n");
  }
  open_and_write(dir + "/f.txt", 0, 1);
  std::string temporary = replacement_temporary_name();
  const char *kept = replacement_abandon();
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(std::string(kept), temporary);
  EXPECT_EQ(read_text(temporary), LINES);
  EXPECT_EQ(read_text(dir + "/f.txt.99.teil"), "TAKEN\n");
}

#ifdef _WIN32
// The A calls take paths up to MAX_PATH: a name whose NAME.teil would pass it
// is cut so that the whole path fits.
TEST_F(FileReplace, ANameTooLongForThePathWithTheSuffixIsCut) {
  std::string folder = dir + "/d";
  fs::create_directory(folder);
  char full[MAX_PATH];
  ASSERT_NE(GetFullPathNameA(folder.c_str(), sizeof full, full, nullptr), 0u);
  size_t folder_length = strlen(full) + 1;  // with its separator
  ASSERT_LT(folder_length + 10, (size_t)MAX_PATH - 1);
  size_t leaf_length = MAX_PATH - 1 - folder_length - 2;  // NAME.teil is 3 too long
  std::string leaf(leaf_length, 'x');
  std::string target = folder + "/" + leaf;
  write_text(target, "OLD\n");
  ASSERT_EQ(read_text(target), "OLD\n") << "the target itself fits";
  open_and_write(target, 1, 1);
  const char *kept = replacement_abandon();
  ASSERT_NE(kept, nullptr);
  std::string expected = folder + "/" + std::string(leaf_length - 3, 'x') + ".teil";
  EXPECT_EQ(std::string(kept), expected);
  EXPECT_EQ(read_text(expected), LINES);
}
#endif

#ifndef _WIN32
// ---------------------------------------------------------------- POSIX only

// Through a link the new file and the kept lines go beside the real file, on
// its file system (/dev/shm where it is one of its own).
TEST_F(FileReplace, ThroughALinkEverythingGoesBesideTheRealFile) {
  std::string other = make_temp_dir("file_replace_other");
  struct stat here, there;
  if (stat("/dev/shm", &there) == 0 && stat(dir.c_str(), &here) == 0 &&
      here.st_dev != there.st_dev && access("/dev/shm", W_OK) == 0) {
    remove_tree(other);
    other = "/dev/shm/file_replace_other_" + std::to_string(getpid());
    ASSERT_TRUE(fs::create_directory(other));
  }
  write_text(other + "/real.txt", "OLD\n");
  write_text(other + "/real.txt.teil", "TAKEN\n");
  ASSERT_EQ(symlink((other + "/real.txt").c_str(), (dir + "/link.txt").c_str()), 0);
  open_and_write(dir + "/link.txt", 0, 1);
  EXPECT_EQ(std::string(replacement_temporary_name()).rfind(other + "/", 0), 0u);
  const char *kept = replacement_abandon();
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(std::string(kept), other + "/real.txt.2.teil");
  EXPECT_EQ(read_text(other + "/real.txt.2.teil"), LINES);
  EXPECT_EQ(read_text(other + "/real.txt.teil"), "TAKEN\n");
  EXPECT_TRUE(fs::is_symlink(dir + "/link.txt"));
  // The commit through it replaces the real file, agreed, and leaves the link.
  open_and_write(dir + "/link.txt", 1, 1);
  EXPECT_EQ(replacement_commit(), 0) << strerror(errno);
  EXPECT_EQ(read_text(other + "/real.txt"), LINES);
  EXPECT_TRUE(fs::is_symlink(dir + "/link.txt"));
  remove_tree(other);
}

// A folder removed while the job ran: the commit fails, and no kept file is
// named that is not there.
TEST_F(FileReplace, AFolderRemovedMeanwhileNamesNoKeptFile) {
  fs::create_directory(dir + "/d");
  open_and_write(dir + "/d/f.txt", 0, 1);
  remove_tree(dir + "/d");
  EXPECT_EQ(replacement_commit(), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(replacement_abandon(), nullptr);
}

// Where the file system has no renameat2, a link and an unlink do the same.
TEST_F(FileReplace, TheLinkWayReplacesNothingEither) {
  struct Row {
    const char *what;
    bool taken;
  } rows[] = {{"a free name", false}, {"a taken name", true}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    write_text(dir + "/from", "NEW\n");
    fs::remove(dir + "/to");
    if (row.taken) write_text(dir + "/to", "USER\n");
    int result = move_by_link((dir + "/from").c_str(), (dir + "/to").c_str());
    EXPECT_EQ(result, row.taken ? -1 : 0);
    if (row.taken) {
      EXPECT_EQ(errno, EEXIST);
    }
    EXPECT_EQ(read_text(dir + "/to"), row.taken ? "USER\n" : "NEW\n");
    EXPECT_EQ(file_exists(dir + "/from"), row.taken);
  }
}

// Targets that cannot take a file are refused before anything is made.
TEST_F(FileReplace, ANonFileTargetIsRefusedAtOnce) {
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
  fs::create_directory(dir + "/folder");
  struct Row {
    const char *what;
    std::string target;
    int error;
  } rows[] = {
      {"a FIFO", dir + "/fifo", ENOTREGULAR},
      {"a folder", dir + "/folder", EISDIR},
      {"a missing folder", dir + "/none/f.txt", ENOENT},
      {"a name too long for the folder", dir + "/" + std::string(256, 'x'), ENAMETOOLONG},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(replacement_open(row.target.c_str(), 1), -1);
    EXPECT_EQ(errno, row.error) << strerror(errno);
    EXPECT_EQ(replacement_temporary_name(), nullptr);
  }
  EXPECT_EQ(names(dir), (std::vector<std::string>{"fifo", "folder"}));
}

// A folder that takes no new file: refused, the target left alone; the same
// folder writable takes it. Returns what failed, 0 when nothing did.
int read_only_folder_failure(const std::string &folder) {
  std::string target = folder + "/f.txt";
  if (chmod(folder.c_str(), 0555) != 0) return 1;
  if (replacement_open(target.c_str(), 1) != -1 || errno != EACCES) return 2;
  if (read_text(target) != "OLD\n") return 3;
  if (chmod(folder.c_str(), 0755) != 0) return 4;
  if (replacement_open(target.c_str(), 1) != 0) return 5;
  replacement_abandon();
  return 0;
}

// Root writes into any folder: as root the check runs as nobody, in a child.
TEST_F(FileReplace, AReadOnlyFolderIsRefusedAndTheTargetStays) {
  std::string folder = dir + "/ro";
  fs::create_directory(folder);
  write_text(folder + "/f.txt", "OLD\n");
  if (geteuid() != 0) {
    EXPECT_EQ(read_only_folder_failure(folder), 0);
    return;
  }
  chmod(dir.c_str(), 0755);
  ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
    _exit(read_only_folder_failure(folder));
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1 to 5: the step that failed";
}

// A file that cannot grow (a file size limit stands in for a full disk): the
// write fails, and what is kept is the whole lines before it.
TEST_F(FileReplace, AFileThatCannotGrowKeepsItsWholeLines) {
  struct sigaction ignore = {}, previous;
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &previous);
  struct rlimit old_limit, limit;
  getrlimit(RLIMIT_FSIZE, &old_limit);
  limit = old_limit;
  limit.rlim_cur = 100;
  setrlimit(RLIMIT_FSIZE, &limit);
  ASSERT_EQ(replacement_open((dir + "/f.txt").c_str(), 0), 0);
  int lines = 0, result = 0;
  while (lines < 10 &&
         (result = replacement_line(1, "CV %3d  = %3d (b0000 0000)\n", lines, 0)) == 0) {
    lines++;
  }
  int error = errno;
  const char *kept = replacement_abandon();
  setrlimit(RLIMIT_FSIZE, &old_limit);
  sigaction(SIGXFSZ, &previous, nullptr);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(error, EFBIG);
  EXPECT_EQ(lines, 3) << "27 bytes a line, 100 at most";
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(read_text(kept).size(), 81u);
  EXPECT_EQ(names(dir), (std::vector<std::string>{"f.txt.teil"}));
}

// A signal that ends the process keeps the lines under the first free name
// too, and says which, before the signal takes its course.
TEST_F(FileReplace, ASignalKeepsTheLinesUnderAFreeNameAndSaysWhich) {
  write_text(dir + "/f.txt.teil", "TAKEN\n");
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(pipe_fds[1], 2);
    if (replacement_open((dir + "/f.txt").c_str(), 0) != 0) _exit(90);
    replacement_line(1, "CV %3d  = %3d (b0000 0011)\n", 1, 3);
    raise(SIGTERM);
    _exit(91);
  }
  close(pipe_fds[1]);
  std::string said;
  char buffer[512];
  ssize_t got;
  while ((got = read(pipe_fds[0], buffer, sizeof buffer)) > 0) said.append(buffer, (size_t)got);
  close(pipe_fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ(said, "\r\nDie gelesenen Zeilen stehen in " + dir + "/f.txt.2.teil, " + dir +
                      "/f.txt ist unver\xC3\xA4ndert.\r\n");
  EXPECT_EQ(read_text(dir + "/f.txt.2.teil"), "CV   1  =   3 (b0000 0011)\n");
  EXPECT_EQ(read_text(dir + "/f.txt.teil"), "TAKEN\n");
  EXPECT_FALSE(file_exists(dir + "/f.txt"));
}
#endif

}  // namespace

// The receiver's files in DIR: factory state, persistence across opens, and
// the bad DIRs and files that must fail the open without touching anything.
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>

#include "tests/virtual_receiver/receiver_fixture.h"

namespace {

class StateFiles : public ReceiverTest {};

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    start = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

TEST_F(StateFiles, NewReceiverHoldsFactoryCvsInReadOutFormat) {
  std::string nested = dir() + "/a/b";
  open("sim:" + nested);
  std::vector<std::string> lines = lines_of(read_text(nested + "/cvs.txt"));
  ASSERT_EQ(lines.size(), 512u);
  EXPECT_EQ(lines[0], "CV   1  =   0 (b0000 0000)");
  EXPECT_EQ(lines[28], "CV  29  =  28 (b0001 1100)");
  EXPECT_EQ(lines[255], "CV 256  = 255 (b1111 1111)");
  EXPECT_EQ(lines[256], "CV   1a = 255 (b1111 1111)");
  EXPECT_EQ(lines[256 + 28], "CV  29a = 227 (b1110 0011)");
  EXPECT_EQ(lines[511], "CV 256a =   0 (b0000 0000)");
  EXPECT_EQ(vr_cv(vr, 1, 29), 227);
}

TEST_F(StateFiles, WritesPersistAcrossReopen) {
  open("sim:" + dir());
  enter_service_mode();
  send({0x00, 0x1C, 0x06, 0xAE, 0x01, 0xFF, 0x80, 0xAE});
  EXPECT_EQ(lines_of(read_text(dir() + "/cvs.txt"))[28], "CV  29  =   6 (b0000 0110)");
  close();
  open("sim:" + dir());
  EXPECT_EQ(vr_cv(vr, 0, 29), 6);
  EXPECT_EQ(vr_cv(vr, 1, 256), 0x80);
  EXPECT_EQ(vr_cv(vr, 0, 30), 29);
  enter_service_mode();
  EXPECT_TRUE(ask(0x00, 0x1C, 0x06, 0xAF));
}

TEST_F(StateFiles, HandEditedFileIsReadWithoutItsBinaryComments) {
  std::string text;
  for (int n = 1; n <= 256; ++n) text += "CV " + std::to_string(n) + " = 7\r\n";
  for (int n = 1; n <= 256; ++n) text += "CV " + std::to_string(n) + "a = 9 (b1001)\r\n";
  write_text(dir() + "/cvs.txt", text);
  open("sim:" + dir());
  EXPECT_EQ(vr_cv(vr, 0, 200), 7);
  EXPECT_EQ(vr_cv(vr, 1, 3), 9);
  EXPECT_EQ(read_text(dir() + "/cvs.txt"), text);  // reading writes nothing
}

// Each open starts the log afresh, so that it never outgrows one session
// and its times, counted from the open, never run backwards.
TEST_F(StateFiles, WireLogHoldsTheLatestOpensTraceOnly) {
  open("sim:" + dir());
  configure(false, true);
  send({0x41});
  std::string first = trace();
  EXPECT_EQ(read_text(dir() + "/wire.log"), first);
  close();
  open("sim:" + dir());
  send({0x42});
  std::string second = trace();
  EXPECT_EQ(second.find(" TX 41"), std::string::npos);
  EXPECT_NE(second.find(" TX 42"), std::string::npos);
  EXPECT_EQ(read_text(dir() + "/wire.log"), second);
}

TEST_F(StateFiles, OneReceiverPerDirAtATime) {
  open("sim:" + dir());
  DWORD error = 0;
  SerialDevice *second = virtual_receiver_open_device(("sim:" + dir()).c_str(), &error);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(error, (DWORD)ERROR_ACCESS_DENIED);
  delete second;
  close();
  open("sim:" + dir());
}

// Files laid out before an open that must fail.
struct Layout {
  std::string cvs;
  std::string flash;
  std::string log;
};

Layout lay_out(const std::string &dir, const std::string &cvs) {
  Layout layout = {cvs, std::string(64, '\x5A'), "0 STATE running\n"};
  write_text(dir + "/cvs.txt", layout.cvs);
  write_text(dir + "/flash.bin", layout.flash);
  write_text(dir + "/wire.log", layout.log);
  return layout;
}

std::string factory_text() {
  std::string text;
  for (int bank = 0; bank < 2; ++bank) {
    for (int n = 1; n <= 256; ++n) {
      text += "CV " + std::to_string(n) + (bank ? "a" : "") + " = " +
              std::to_string(bank ? 255 - (n - 1) : n - 1) + "\n";
    }
  }
  return text;
}

std::string replaced(std::string text, const std::string &from, const std::string &to) {
  size_t at = text.find(from);
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

struct Malformed {
  const char *name;
  std::string cvs;
};

class MalformedCvs : public ::testing::TestWithParam<Malformed> {};

INSTANTIATE_TEST_SUITE_P(
    Files, MalformedCvs,
    ::testing::Values(
        Malformed{"empty", ""},
        Malformed{"line_missing", replaced(factory_text(), "CV 17 = 16\n", "")},
        Malformed{"duplicate", replaced(factory_text(), "CV 17 = 16\n", "CV 18 = 16\n")},
        Malformed{"value_256", replaced(factory_text(), "CV 17 = 16\n", "CV 17 = 256\n")},
        Malformed{"cv_257", factory_text() + "CV 257 = 1\n"},
        Malformed{"no_value", replaced(factory_text(), "CV 17 = 16\n", "CV 17 = \n")},
        Malformed{"binary_disagrees",
                  replaced(factory_text(), "CV 17 = 16\n", "CV 17 = 16 (b0000 0001)\n")},
        Malformed{"junk_after", replaced(factory_text(), "CV 17 = 16\n", "CV 17 = 16 x\n")},
        Malformed{"blank_line", factory_text() + "\n"},
        Malformed{"read_error_line",
                  replaced(factory_text(), "CV 17 = 16\n", "CV  17: Lesefehler!\n")}),
    [](const ::testing::TestParamInfo<Malformed> &info) { return std::string(info.param.name); });

TEST_P(MalformedCvs, FailsTheOpenAndOverwritesNothing) {
  std::string dir = make_temp_dir("vr-test");
  Layout before = lay_out(dir, GetParam().cvs);
  DWORD error = 0;
  SerialDevice *device = virtual_receiver_open_device(("sim:" + dir).c_str(), &error);
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(error, 13u);  // ERROR_INVALID_DATA
  EXPECT_EQ(read_text(dir + "/cvs.txt"), before.cvs);
  EXPECT_EQ(read_text(dir + "/flash.bin"), before.flash);
  EXPECT_EQ(read_text(dir + "/wire.log"), before.log);
  delete device;
  remove_tree(dir);
}

TEST(BadDir, ThatCannotBeCreatedFailsWithPathNotFound) {
  std::string dir = make_temp_dir("vr-test");
  write_text(dir + "/plain", "a file, not a folder");
  const std::string names[] = {"sim:" + dir + "/plain", "sim:" + dir + "/plain/receiver"};
  for (const std::string &name : names) {
    DWORD error = 0;
    SerialDevice *device = virtual_receiver_open_device(name.c_str(), &error);
    EXPECT_EQ(device, nullptr) << name;
    EXPECT_EQ(error, (DWORD)ERROR_PATH_NOT_FOUND) << name;
    delete device;
  }
  EXPECT_EQ(read_text(dir + "/plain"), "a file, not a folder");
  remove_tree(dir);
}

#ifndef _WIN32
// Permissions and /proc are the POSIX build's.
TEST(BadDir, ThatCannotBeWrittenFailsAndOverwritesNothing) {
  std::string dir = make_temp_dir("vr-test");
  std::string factory = factory_text();
  write_text(dir + "/cvs.txt", factory);
  chmod(dir.c_str(), 0555);
  if (access((dir + "/.").c_str(), W_OK) == 0) {
    chmod(dir.c_str(), 0755);
    remove_tree(dir);
    GTEST_SKIP() << "permissions do not bind this user (root)";
  }
  DWORD error = 0;
  SerialDevice *device = virtual_receiver_open_device(("sim:" + dir).c_str(), &error);
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(error, (DWORD)ERROR_ACCESS_DENIED);
  EXPECT_EQ(read_text(dir + "/cvs.txt"), factory);
  EXPECT_FALSE(file_exists(dir + "/wire.log"));
  delete device;
  chmod(dir.c_str(), 0755);
  remove_tree(dir);
}

#endif

TEST(BadDir, WithACvsTxtThatCannotBeReadFailsAndWritesNothing) {
  std::string dir = make_temp_dir("vr-test");
  std::filesystem::create_directory(dir + "/cvs.txt");  // unreadable as a file, also for root
  DWORD error = 0;
  SerialDevice *device = virtual_receiver_open_device(("sim:" + dir).c_str(), &error);
  EXPECT_EQ(device, nullptr);
  EXPECT_NE(error, 0u);
  EXPECT_FALSE(file_exists(dir + "/wire.log"));
  EXPECT_FALSE(file_exists(dir + "/cvs.txt.new"));
  delete device;
  remove_tree(dir);
}

#ifndef _WIN32
// Root may write anywhere it has permissions for, but not into /proc.
TEST(BadDir, OnAFileSystemThatTakesNoFilesFails) {
  DWORD error = 0;
  SerialDevice *device = virtual_receiver_open_device("sim:/proc/self", &error);
  EXPECT_EQ(device, nullptr);
  EXPECT_NE(error, 0u);
  delete device;
}
#endif

}  // namespace

// Error codes and texts, critical sections, the framework's worker thread and
// the alertable sleep on the virtual clock.
#include <gtest/gtest.h>

#include <locale.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/platform.h"
#include "platform/port_open_cause.h"
#include "platform/posix/tty_device_posix.h"
#include "tests/support/program_run.h"

namespace {

TEST(Errors, ErrnoBecomesTheWin32Code) {
  const struct {
    int error;
    DWORD code;
  } cases[] = {
      {0, ERROR_SUCCESS},
      {ENOENT, ERROR_FILE_NOT_FOUND},
      {ENODEV, ERROR_FILE_NOT_FOUND},
      {ENOTDIR, ERROR_PATH_NOT_FOUND},
      {EACCES, ERROR_ACCESS_DENIED},
      {EPERM, ERROR_ACCESS_DENIED},
      {EBUSY, ERROR_ACCESS_DENIED},
      {EWOULDBLOCK, ERROR_ACCESS_DENIED},
      {EISDIR, ERROR_ACCESS_DENIED},
      {EBADF, ERROR_INVALID_HANDLE},
      {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
      {EIO, ERROR_GEN_FAILURE},
      {ENOTTY, ERROR_NOT_SUPPORTED},
      {EINVAL, ERROR_INVALID_PARAMETER},
      {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
      {ECANCELED, ERROR_OPERATION_ABORTED},
      {EXDEV, ERROR_GEN_FAILURE},  // anything else
  };
  for (const auto &c : cases) EXPECT_EQ(win32_error_from_errno(c.error), c.code) << c.error;
}

TEST(Errors, LastErrorBelongsToEachThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seen_by_other = 1;
  std::thread other([&] {
    seen_by_other = GetLastError();
    SetLastError(ERROR_FILE_NOT_FOUND);
  });
  other.join();
  EXPECT_EQ(seen_by_other, 0u);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
}

std::string message_for(DWORD code) {
  char text[200];
  memset(text, 'z', sizeof text);
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0x0400, text, sizeof text, nullptr);
  EXPECT_EQ(length, strlen(text)) << code;
  return std::string(text, length);
}

TEST(Errors, MessagesReadAsOnWindows) {
  SetLastError(0);
  EXPECT_EQ(message_for(ERROR_ACCESS_DENIED), "Access is denied.\r\n");
  EXPECT_EQ(message_for(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.\r\n");
  EXPECT_EQ(message_for(ERROR_GEN_FAILURE),
            "A device attached to the system is not functioning.\r\n");
}

TEST(Errors, MessageNamesTheSystemsReasonWhenThereIsOne) {
  set_last_error_from_errno(EIO);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_GEN_FAILURE);
  std::string text = message_for(ERROR_GEN_FAILURE);
  EXPECT_NE(text.find(strerror(EIO)), std::string::npos) << text;
  // Set directly, the code has no errno behind it any more.
  SetLastError(ERROR_GEN_FAILURE);
  EXPECT_EQ(message_for(ERROR_GEN_FAILURE).find(strerror(EIO)), std::string::npos);
}

TEST(Errors, UnknownCodeOrSmallBufferGivesNoText) {
  char text[8] = "garbage";
  EXPECT_EQ(
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 4242, 0, text, sizeof text, nullptr), 0u);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_MR_MID_NOT_FOUND);
  EXPECT_STREQ(text, "");  // never left as it was, for a caller that prints it anyway
  strcpy(text, "garbage");
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, text,
                           sizeof text, nullptr),
            0u);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
  EXPECT_STREQ(text, "");
}

// Why a port did not open: error 5 has two causes a user must tell apart (a
// port in use, or one the user may not open), and the cause in the system's
// own words, the C library's: for the errno behind the code, or where the code
// was set without one, the errno that fits it.
TEST(Errors, AFailedOpenSaysWhyInTheSystemsWords) {
  struct Row {
    int error;  // errno the code comes from; 0: the code was set directly
    DWORD code;
    int words;           // the errno whose words the cause is; 0: "Error N"
    const char *advice;  // a part of the advice, "" for none
  };
  const Row rows[] = {
      {ENOENT, ERROR_FILE_NOT_FOUND, ENOENT, ""},  // a missing port name
      {ENODEV, ERROR_FILE_NOT_FOUND, ENODEV, ""},  // a port without hardware
      {EISDIR, ERROR_ACCESS_DENIED, EISDIR, ""},   // a directory as port
      {EACCES, ERROR_ACCESS_DENIED, EACCES, "Gruppe dialout"},
      {EPERM, ERROR_ACCESS_DENIED, EPERM, "Gruppe dialout"},
      {EBUSY, ERROR_ACCESS_DENIED, EBUSY, "belegt"},
      {EWOULDBLOCK, ERROR_ACCESS_DENIED, EWOULDBLOCK, "belegt"},
      {0, ERROR_ACCESS_DENIED, EBUSY, "belegt"},  // flock: another program has it
      {EROFS, ERROR_ACCESS_DENIED, EROFS, ""},
      {0, ERROR_NOT_SUPPORTED, ENOTTY, ""},         // a regular file as port
      {0, ERROR_DEVICE_NOT_CONNECTED, ENODEV, ""},  // an adapter pulled
      {0, ERROR_INVALID_PARAMETER, EINVAL, ""},
      {0, 4242, 0, ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.code);
    SCOPED_TRACE(row.error);
    if (row.error != 0) {
      set_last_error_from_errno(row.error);
    } else {
      SetLastError(row.code);
    }
    ASSERT_EQ(GetLastError(), row.code);
    char text[300], advice[300];
    describe_port_open_failure(row.code, text, sizeof text, advice, sizeof advice);
    EXPECT_EQ(text, row.words != 0 ? system_words(row.words) : "Error 4242");
    EXPECT_EQ(strchr(text, '\n'), nullptr) << "no line end of its own";
    if (row.advice[0] == '\0') {
      EXPECT_STREQ(advice, "");
    } else {
      EXPECT_NE(strstr(advice, row.advice), nullptr) << advice;
    }
  }
}

TEST(Errors, TheSystemsWordsLeaveTheProgramsOwnLocaleAsItWas) {
  set_last_error_from_errno(EIO);
  char text[300];
  describe_system_error(ERROR_GEN_FAILURE, text, sizeof text);
  EXPECT_EQ(text, system_words(EIO));
  EXPECT_STREQ(setlocale(LC_ALL, nullptr), "C");
  char number[16];
  snprintf(number, sizeof number, "%.1f", 1.5);
  EXPECT_STREQ(number, "1.5");
  // A small buffer is cut, never overrun.
  char small[4];
  describe_system_error(ERROR_GEN_FAILURE, small, sizeof small);
  EXPECT_EQ(std::string(small), system_words(EIO).substr(0, 3));
}

TEST(CriticalSection, KeepsTwoThreadsApartAndLetsTheHolderEnterAgain) {
  // As the programs keep theirs: for the whole run, never deleted.
  static CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  long counter = 0;
  auto count = [&] {
    for (int i = 0; i < 100000; i++) {
      EnterCriticalSection(&section);
      EnterCriticalSection(&section);  // a Win32 section may be entered again
      counter++;
      LeaveCriticalSection(&section);
      LeaveCriticalSection(&section);
    }
  };
  std::thread other(count);
  count();
  other.join();
  EXPECT_EQ(counter, 200000);
}

std::atomic<int> worker_runs{0};
std::atomic<void *> worker_param{nullptr};

unsigned worker(void *param) {
  worker_param = param;
  worker_runs++;
  return 0;
}

TEST(Framework, WorkerThreadRunsAtOnceWithItsParameter) {
  EXPECT_EQ(framework_init(), 0);
  int marker = 0;
  void *thread = framework_begin_thread(worker, &marker);
  ASSERT_NE(thread, nullptr);
  for (int i = 0; i < 300 && worker_runs == 0; i++) Sleep(10);
  EXPECT_EQ(worker_runs.load(), 1);
  EXPECT_EQ(worker_param.load(), &marker);
  framework_release_thread(thread);
  framework_release_thread(nullptr);  // nothing to release
}

TEST(VirtualClock, AlertableSleepAdvancesTheClockAtOnce) {
  clock_use_virtual(true);
  int64_t virtual_start_us = clock_now_us();
  timespec real_start;
  clock_gettime(CLOCK_MONOTONIC, &real_start);
  EXPECT_EQ(SleepEx(5000, TRUE), 0u);
  EXPECT_EQ(clock_now_us() - virtual_start_us, 5000000);
  clock_use_virtual(false);
  timespec real_end;
  clock_gettime(CLOCK_MONOTONIC, &real_end);
  EXPECT_LT(real_end.tv_sec - real_start.tv_sec, 2);
}

}  // namespace

// Queued writes and reads with completion routines on a pseudo-terminal pair:
// routines run only on the thread that queued them, inside its alertable
// SleepEx; reads end by the interval time-out or the length; a dead port
// neither spins nor blocks.
#include <gtest/gtest.h>
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/platform.h"
#include "tests/support/pty_pair.h"

namespace {

// What a completion routine saw. One request at a time per test thread.
struct Done {
  std::atomic<int> count{0};
  DWORD error = 0xDEAD;
  DWORD transferred = 0xDEAD;
  pthread_t thread;
};

Done *done_for(LPOVERLAPPED overlapped) {
  return static_cast<Done *>(overlapped->hEvent);  // free for the caller's use
}

void record_completion(DWORD error, DWORD transferred, LPOVERLAPPED overlapped) {
  Done *done = done_for(overlapped);
  done->error = error;
  done->transferred = transferred;
  done->thread = pthread_self();
  done->count++;
}

OVERLAPPED request_for(Done &done) {
  OVERLAPPED overlapped;
  memset(&overlapped, 0, sizeof overlapped);
  overlapped.hEvent = &done;
  return overlapped;
}

// Sleeps alertably until the routine has run, at most timeout_ms.
bool wait_done(Done &done, int timeout_ms = 3000) {
  int64_t deadline_us = clock_now_us() + (int64_t)timeout_ms * 1000;
  while (done.count == 0 && clock_now_us() < deadline_us) SleepEx(50, TRUE);
  return done.count > 0;
}

class Overlapped : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    port = CreateFileA(pty.slave.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    set_interval(2);
  }
  void TearDown() override {
    if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
  }
  void set_interval(DWORD ms) {
    COMMTIMEOUTS timeouts = {ms, 0, 0, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  }
  // Queues a read and waits for it; returns the bytes it delivered.
  std::string read_once(DWORD length, Done &done) {
    std::vector<char> buffer(length);
    OVERLAPPED overlapped = request_for(done);
    EXPECT_TRUE(ReadFileEx(port, buffer.data(), length, &overlapped, record_completion));
    EXPECT_TRUE(wait_done(done));
    return std::string(buffer.data(), done.count > 0 ? done.transferred : 0);
  }
  PtyPair pty;
  HANDLE port = INVALID_HANDLE_VALUE;
};

TEST_F(Overlapped, WriteRoutineRunsOnlyInsideAlertableSleep) {
  std::string sent;
  for (int value = 0; value < 64; value++) {
    Done done;
    BYTE byte = (BYTE)(value * 5);
    OVERLAPPED overlapped = request_for(done);
    ASSERT_TRUE(WriteFileEx(port, &byte, 1, &overlapped, record_completion));
    EXPECT_EQ(done.count, 0);  // not before the thread is alertable
    Sleep(0);
    EXPECT_EQ(done.count, 0);          // nor in a wait that is not alertable
    EXPECT_EQ(SleepEx(0, FALSE), 0u);  // which SleepEx refuses: the programs never ask for it
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_SUPPORTED);
    EXPECT_EQ(done.count, 0);
    EXPECT_EQ(SleepEx(INFINITE, TRUE), WAIT_IO_COMPLETION);
    ASSERT_EQ(done.count, 1);
    EXPECT_EQ(done.error, 0u);
    EXPECT_EQ(done.transferred, 1u);
    sent += (char)byte;
  }
  EXPECT_EQ(pty.receive(64), sent);
}

TEST_F(Overlapped, AlertableSleepWithNothingQueuedWaitsItsTime) {
  int64_t start_us = clock_now_us();
  EXPECT_EQ(SleepEx(30, TRUE), 0u);
  EXPECT_GE(clock_now_us() - start_us, 30000);
}

TEST_F(Overlapped, SleepExRunsOnlyTheCallingThreadsRoutines) {
  Done done;
  BYTE byte = 0x55;
  OVERLAPPED overlapped = request_for(done);
  ASSERT_TRUE(WriteFileEx(port, &byte, 1, &overlapped, record_completion));
  DWORD other_result = 1;
  std::thread other([&] { other_result = SleepEx(100, TRUE); });
  other.join();
  EXPECT_EQ(other_result, 0u);  // the other thread waited its time and ran nothing
  EXPECT_EQ(done.count, 0);
  EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  EXPECT_EQ(done.count, 1);
  EXPECT_TRUE(pthread_equal(done.thread, pthread_self()));
}

TEST_F(Overlapped, ReadReturnsAtOnceAndCompletesOnTheIssuingThread) {
  Done done;
  char buffer[128];
  OVERLAPPED overlapped = request_for(done);
  pthread_t reader = pthread_self();
  ASSERT_TRUE(ReadFileEx(port, buffer, sizeof buffer, &overlapped, record_completion));
  // Nothing has arrived: the read stays pending.
  EXPECT_EQ(SleepEx(50, TRUE), 0u);
  EXPECT_EQ(done.count, 0);
  // Another thread's alertable wait does not take this thread's completion.
  ASSERT_TRUE(pty.send("hello"));
  std::thread other([] { SleepEx(200, TRUE); });
  other.join();
  ASSERT_TRUE(wait_done(done));
  EXPECT_EQ(done.error, 0u);
  ASSERT_EQ(done.transferred, 5u);
  EXPECT_EQ(std::string(buffer, 5), "hello");
  EXPECT_TRUE(pthread_equal(done.thread, reader));
}

TEST_F(Overlapped, ReadEndsTheIntervalAfterTheLastByte) {
  Done done;
  char buffer[128];
  OVERLAPPED overlapped = request_for(done);
  ASSERT_TRUE(ReadFileEx(port, buffer, sizeof buffer, &overlapped, record_completion));
  int64_t sent_us = clock_now_us();  // before: the read may take the bytes at once
  ASSERT_TRUE(pty.send("abc"));
  while (done.count == 0) SleepEx(INFINITE, TRUE);
  int64_t done_us = clock_now_us();
  EXPECT_EQ(std::string(buffer, done.transferred), "abc");
  // The line must have been quiet for the 2 ms interval.
  EXPECT_GE(done_us - sent_us, 2000);
}

TEST_F(Overlapped, ReadEndsWhenTheLengthHasArrived) {
  ASSERT_TRUE(pty.send("0123456789"));
  Done first, second;
  EXPECT_EQ(read_once(4, first), "0123");
  EXPECT_EQ(read_once(128, second), "456789");
}

TEST_F(Overlapped, BurstsWithinTheIntervalMakeOneRead) {
  // Wide intervals, so that a busy machine cannot blur the two cases.
  set_interval(300);
  Done done;
  char buffer[128];
  OVERLAPPED overlapped = request_for(done);
  ASSERT_TRUE(ReadFileEx(port, buffer, sizeof buffer, &overlapped, record_completion));
  ASSERT_TRUE(pty.send("ab"));
  Sleep(20);
  ASSERT_TRUE(pty.send("cd"));
  ASSERT_TRUE(wait_done(done));
  EXPECT_EQ(std::string(buffer, done.transferred), "abcd");
}

TEST_F(Overlapped, GapLongerThanTheIntervalEndsTheRead) {
  set_interval(20);
  Done first;
  char buffer[128];
  OVERLAPPED overlapped = request_for(first);
  ASSERT_TRUE(ReadFileEx(port, buffer, sizeof buffer, &overlapped, record_completion));
  ASSERT_TRUE(pty.send("ef"));
  Sleep(400);
  ASSERT_TRUE(pty.send("gh"));
  ASSERT_TRUE(wait_done(first));
  EXPECT_EQ(std::string(buffer, first.transferred), "ef");
  Done second;
  EXPECT_EQ(read_once(128, second), "gh");
}

TEST_F(Overlapped, CloseEndsAPendingReadAsAborted) {
  Done done;
  char buffer[16];
  OVERLAPPED overlapped = request_for(done);
  ASSERT_TRUE(ReadFileEx(port, buffer, sizeof buffer, &overlapped, record_completion));
  SleepEx(20, TRUE);
  int64_t start_us = clock_now_us();
  ASSERT_TRUE(CloseHandle(port));
  port = INVALID_HANDLE_VALUE;
  EXPECT_LT(clock_now_us() - start_us, 1000000);
  ASSERT_TRUE(wait_done(done));
  EXPECT_EQ(done.error, (DWORD)ERROR_OPERATION_ABORTED);
  EXPECT_EQ(done.transferred, 0u);
}

TEST_F(Overlapped, WritesAndStatusGoOnBesideAPendingRead) {
  std::mutex received_lock;
  std::string received;
  std::thread reader([&] {
    char buffer[128];
    for (;;) {
      Done done;
      OVERLAPPED overlapped = request_for(done);
      if (!ReadFileEx(port, buffer, sizeof buffer, &overlapped, record_completion)) break;
      while (done.count == 0) SleepEx(INFINITE, TRUE);
      if (done.error != 0) break;
      std::lock_guard<std::mutex> hold(received_lock);
      received.append(buffer, done.transferred);
    }
  });
  SleepEx(20, TRUE);  // the read is pending now
  std::string sent;
  for (int i = 0; i < 200; i++) {
    Done done;
    BYTE byte = (BYTE)i;
    OVERLAPPED overlapped = request_for(done);
    ASSERT_TRUE(WriteFileEx(port, &byte, 1, &overlapped, record_completion));
    while (done.count == 0) SleepEx(INFINITE, TRUE);
    DWORD status;
    ASSERT_TRUE(GetCommModemStatus(port, &status));
    sent += (char)byte;
  }
  EXPECT_EQ(pty.receive(200), sent);
  ASSERT_TRUE(pty.send("from the far end"));
  for (int i = 0; i < 300; i++) {
    {
      std::lock_guard<std::mutex> hold(received_lock);
      if (received.size() >= 16) break;
    }
    Sleep(10);
  }
  CloseHandle(port);  // ends the reader's pending read
  port = INVALID_HANDLE_VALUE;
  reader.join();
  EXPECT_EQ(received, "from the far end");
}

// ---------------------------------------------------------------- a port that is gone

int64_t process_cpu_us() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return (int64_t)t.tv_sec * 1000000 + t.tv_nsec / 1000;
}

TEST_F(Overlapped, DeadPortNeitherSpinsNorBlocksWrites) {
  std::atomic<bool> stop{false};
  std::atomic<int> failed_reads{0}, refused_reads{0};
  std::atomic<DWORD> read_error{0}, refusal_error{0};
  // A reader as the programs have one: a refused request pauses, a failed
  // read is followed at once by the next request.
  std::thread reader([&] {
    char buffer[128];
    while (!stop) {
      Done done;
      OVERLAPPED overlapped = request_for(done);
      if (!ReadFileEx(port, buffer, sizeof buffer, &overlapped, record_completion)) {
        refusal_error = GetLastError();
        refused_reads++;
        Sleep(100);
        continue;
      }
      while (done.count == 0) SleepEx(INFINITE, TRUE);
      if (done.error != 0) {
        read_error = done.error;
        failed_reads++;
      }
    }
  });
  SleepEx(50, TRUE);
  pty.close_master();
  int64_t cpu_start_us = process_cpu_us();
  int64_t start_us = clock_now_us();
  // Writes still return, with an error, while the reader runs into the dead port.
  int write_failures = 0;
  for (int i = 0; i < 10; i++) {
    BYTE byte = 0x41;
    DWORD written;
    if (!WriteFile(port, &byte, 1, &written, nullptr)) write_failures++;
    Done done;
    OVERLAPPED overlapped = request_for(done);
    ASSERT_TRUE(WriteFileEx(port, &byte, 1, &overlapped, record_completion));
    ASSERT_TRUE(wait_done(done, 1000));
    EXPECT_NE(done.error, 0u);
    Sleep(100);
  }
  int64_t cpu_used_us = process_cpu_us() - cpu_start_us;
  int64_t elapsed_us = clock_now_us() - start_us;
  stop = true;
  reader.join();
  EXPECT_EQ(write_failures, 10);
  EXPECT_GE(failed_reads.load(), 1);
  EXPECT_NE(read_error.load(), 0u);
  EXPECT_NE(read_error.load(), (DWORD)ERROR_OPERATION_ABORTED);
  EXPECT_GE(refused_reads.load(), 5);
  EXPECT_EQ(refusal_error.load(), read_error.load());
  EXPECT_LT(elapsed_us, 3000000);
  // A spinning reader would burn a whole core: about a second here.
  EXPECT_LT(cpu_used_us, 100000) << "over " << elapsed_us << " us";
}

}  // namespace

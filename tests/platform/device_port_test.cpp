// The device ports on both builds, over a device of the test's own: the
// prefix registry, the settings a port keeps, the errors of its calls, and
// completion routines that run only on the queuing thread inside its
// alertable SleepEx (a queue on POSIX, an APC under Wine).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/device_port.h"

namespace {

// Reads wait until cancelled, or return the bytes fed to them; writes are kept.
struct TestDevice : SerialDevice {
  std::mutex lock;
  std::string written;
  std::string to_read;
  DWORD read_error = ERROR_SUCCESS;  // once set, reads end with it
  std::atomic<bool> cancelled{false};
  DCB applied{};
  DWORD apply(const DCB &dcb) override {
    if (dcb.BaudRate == 0) return ERROR_INVALID_PARAMETER;
    applied = dcb;
    return ERROR_SUCCESS;
  }
  DWORD write(const BYTE *data, DWORD length, DWORD *count) override {
    std::lock_guard<std::mutex> hold(lock);
    written.append(reinterpret_cast<const char *>(data), length);
    *count = length;
    return ERROR_SUCCESS;
  }
  DWORD read(BYTE *buffer, DWORD length, DWORD, DWORD *got) override {
    for (;;) {
      {
        std::lock_guard<std::mutex> hold(lock);
        if (read_error != ERROR_SUCCESS) return read_error;
        if (!to_read.empty()) {
          *got = (DWORD)std::min<size_t>(length, to_read.size());
          memcpy(buffer, to_read.data(), *got);
          to_read.erase(0, *got);
          return ERROR_SUCCESS;
        }
      }
      if (cancelled) return ERROR_OPERATION_ABORTED;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  void cancel_reads() override { cancelled = true; }
  DWORD modem_status(DWORD *status) override {
    *status = MS_DSR_ON;
    return ERROR_SUCCESS;
  }
  DWORD clear_error(DWORD *errors) override {
    *errors = 0;
    return ERROR_SUCCESS;
  }
};

TestDevice *last_opened = nullptr;

SerialDevice *open_test_device(const char *name, DWORD *error) {
  if (strcmp(name, "test:refused") == 0) {
    *error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  return last_opened = new TestDevice;
}

struct Registered {
  Registered() { serial_device_register("test:", open_test_device); }
} registered;

struct Done {
  std::atomic<int> count{0};
  DWORD error = 0xDEAD;
  DWORD transferred = 0xDEAD;
  std::thread::id thread;
};

void WINAPI record(DWORD error, DWORD transferred, LPOVERLAPPED overlapped) {
  Done *done = static_cast<Done *>(overlapped->hEvent);  // free for the caller's use
  done->error = error;
  done->transferred = transferred;
  done->thread = std::this_thread::get_id();
  done->count++;
}

bool wait_done(Done &done) {
  int64_t deadline_us = clock_now_us() + 3000000;
  while (done.count == 0 && clock_now_us() < deadline_us) SleepEx(20, TRUE);
  return done.count > 0;
}

class DevicePortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bool taken = false;
    port = device_port_open_registered("test:one", &taken);
    ASSERT_TRUE(taken);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    device = last_opened;
    memset(&request, 0, sizeof request);
    request.hEvent = &done;
  }
  void TearDown() override {
    if (port != INVALID_HANDLE_VALUE) device_port_close(port);
  }
  HANDLE port = INVALID_HANDLE_VALUE;
  TestDevice *device = nullptr;
  OVERLAPPED request;
  Done done;
};

TEST(DevicePortRegistry, TakesOnlyTheRegisteredPrefixAndPassesItsError) {
  struct Row {
    const char *name;
    bool taken;
    bool opens;
    DWORD error;
  } rows[] = {
      {"test:x", true, true, ERROR_SUCCESS},
      {"test:refused", true, false, ERROR_ACCESS_DENIED},
      {"tes", false, false, 0},
      {"TEST:x", false, false, 0},
      {"/dev/test:x", false, false, 0},
  };
  for (const Row &row : rows) {
    bool taken = !row.taken;
    HANDLE handle = device_port_open_registered(row.name, &taken);
    EXPECT_EQ(taken, row.taken) << row.name;
    EXPECT_EQ(handle != INVALID_HANDLE_VALUE, row.opens) << row.name;
    if (row.taken && !row.opens) {
      EXPECT_EQ(GetLastError(), row.error) << row.name;
    }
    if (handle != INVALID_HANDLE_VALUE) {
      EXPECT_TRUE(device_port_close(handle)) << row.name;
    }
  }
}

TEST_F(DevicePortTest, KeepsTheSettingsItAppliedAndRefusesWhatTheDeviceRefuses) {
  COMMCONFIG config;
  DWORD size = sizeof config;
  ASSERT_TRUE(device_port_get_config(port, &config, &size));
  EXPECT_EQ(config.dcb.BaudRate, 9600u);
  config.dcb.BaudRate = 38400;
  ASSERT_TRUE(device_port_set_config(port, &config, sizeof config));
  EXPECT_EQ(device->applied.BaudRate, 38400u);
  config.dcb.BaudRate = 0;
  EXPECT_FALSE(device_port_set_config(port, &config, sizeof config));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
  size = sizeof config;
  ASSERT_TRUE(device_port_get_config(port, &config, &size));
  EXPECT_EQ(config.dcb.BaudRate, 38400u);
  size = 1;
  EXPECT_FALSE(device_port_get_config(port, &config, &size));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(size, (DWORD)sizeof(COMMCONFIG));
}

TEST_F(DevicePortTest, AClosedHandleIsNoPortForAnyCall) {
  HANDLE closed = port;
  ASSERT_TRUE(device_port_close(port));
  port = INVALID_HANDLE_VALUE;
  DWORD status = 0;
  BYTE byte = 1;
  EXPECT_FALSE(device_port_handle(closed));
  EXPECT_EQ(serial_device_of(closed), nullptr);
  EXPECT_FALSE(device_port_modem_status(closed, &status));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
  EXPECT_FALSE(device_port_write_ex(closed, &byte, 1, &request, record));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
  EXPECT_FALSE(device_port_close(closed));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
}

TEST_F(DevicePortTest, AQueuedWriteCompletesOnlyInThisThreadsAlertableWait) {
  BYTE bytes[] = {0x41, 0x42};
  ASSERT_TRUE(device_port_write_ex(port, bytes, 2, &request, record));
  EXPECT_EQ(device->written, "AB");
  EXPECT_EQ(done.count, 0);  // not before the wait
  ASSERT_TRUE(wait_done(done));
  EXPECT_EQ(done.error, (DWORD)ERROR_SUCCESS);
  EXPECT_EQ(done.transferred, 2u);
  EXPECT_EQ(done.thread, std::this_thread::get_id());
  EXPECT_EQ(request.InternalHigh, (ULONG_PTR)2);
}

TEST_F(DevicePortTest, AReadCompletesWithItsBytesOnTheQueuingThread) {
  BYTE buffer[8];
  ASSERT_TRUE(device_port_read_ex(port, buffer, sizeof buffer, &request, record));
  {
    std::lock_guard<std::mutex> hold(device->lock);
    device->to_read = "xyz";
  }
  ASSERT_TRUE(wait_done(done));
  EXPECT_EQ(done.error, (DWORD)ERROR_SUCCESS);
  EXPECT_EQ(std::string((char *)buffer, done.transferred), "xyz");
  EXPECT_EQ(done.thread, std::this_thread::get_id());
}

TEST_F(DevicePortTest, ClosingAbortsThePendingRead) {
  BYTE buffer[8];
  ASSERT_TRUE(device_port_read_ex(port, buffer, sizeof buffer, &request, record));
  ASSERT_TRUE(device_port_close(port));
  port = INVALID_HANDLE_VALUE;
  ASSERT_TRUE(wait_done(done));
  EXPECT_EQ(done.error, (DWORD)ERROR_OPERATION_ABORTED);
  EXPECT_EQ(done.transferred, 0u);
}

TEST_F(DevicePortTest, AfterTheDeviceFailedAReadEveryLaterReadIsRefusedAtOnce) {
  BYTE buffer[8];
  {
    std::lock_guard<std::mutex> hold(device->lock);
    device->read_error = ERROR_DEVICE_NOT_CONNECTED;
  }
  ASSERT_TRUE(device_port_read_ex(port, buffer, sizeof buffer, &request, record));
  ASSERT_TRUE(wait_done(done));
  EXPECT_EQ(done.error, (DWORD)ERROR_DEVICE_NOT_CONNECTED);
  Done second;
  request.hEvent = &second;
  EXPECT_FALSE(device_port_read_ex(port, buffer, sizeof buffer, &request, record));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_DEVICE_NOT_CONNECTED);
}

}  // namespace

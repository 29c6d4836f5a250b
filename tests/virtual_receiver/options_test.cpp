// The fault and line options of the port name, and the names it refuses.
#include <future>
#include <thread>

#include "tests/virtual_receiver/receiver_fixture.h"

namespace {

class Options : public ReceiverTest {};

TEST_F(Options, AbsentNeverAssertsDsrAndNothingChanges) {
  open("sim:?absent");
  configure(true, true);
  configure(false, true);
  send(SERVICE_WAKE);
  EXPECT_FALSE(ask(0x00, 0x00, 0x00, 0xAF));  // CV 1 = 0 would be confirmed
  send({0x00, 0x00, 0x09, 0xAE});
  EXPECT_EQ(vr_cv(vr, 0, 1), 0);
  EXPECT_EQ(vr_state(vr), VR_RUNNING);
  EXPECT_TRUE(events(trace(), "STATE").empty()) << trace();
  EXPECT_EQ(events(trace(), "TX").size(), 21u);  // the PC's bytes are on the line all the same
  EXPECT_EQ(vr_error_count(vr), 0);
}

TEST_F(Options, StuckAlwaysAssertsDsr) {
  open("sim:?stuck");
  configure(false, true);
  EXPECT_TRUE(dsr());  // even before the service mode
  enter_service_mode();
  EXPECT_TRUE(ask(0x00, 0x00, 0x01, 0xB0));  // CV 1 = 0, yet every bit reads 1
  EXPECT_TRUE(ask(0x00, 0x00, 0xFF, 0xAF));
}

TEST_F(Options, FailRefusesEveryNthVerify) {
  open("sim:?fail=3");
  enter_service_mode();
  const bool confirmed[] = {true, true, false, true, true, false, true};
  for (bool expected : confirmed) {
    EXPECT_EQ(ask(0x00, 0x04, 0x04, 0xAF), expected);  // CV 5 = 4, always true
    pause_us(3000);
  }
  // Queries do not count as verifies.
  EXPECT_TRUE(ask(0x00, 0x04, 0x04, 0xB0));
}

TEST_F(Options, InstantTakesNoLineTime) {
  open("sim:?instant");
  configure(false, true);
  int64_t before = clock_now_us();
  send(SERVICE_WAKE);
  EXPECT_EQ(clock_now_us(), before);
  EXPECT_EQ(vr_state(vr), VR_SERVICE);
}

TEST_F(Options, UnplugFailsEveryCallAfterNBytes) {
  open("sim:?unplug=5");
  configure(false, true);
  send({0xF3, 0xF4, 0xF5});
  BYTE bytes[4] = {0xF6, 0xF7, 0xF8, 0xF9};
  DWORD written = 99;
  EXPECT_EQ(device->write(bytes, 4, &written), (DWORD)ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(device->write(bytes, 1, &written), (DWORD)ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(written, 0u);
  DWORD status = 0;
  EXPECT_EQ(device->modem_status(&status), (DWORD)ERROR_GEN_FAILURE);
  EXPECT_EQ(configure(false, true), (DWORD)ERROR_GEN_FAILURE);
  DWORD errors = 0;
  EXPECT_EQ(device->clear_error(&errors), (DWORD)ERROR_GEN_FAILURE);
  BYTE buffer[8];
  DWORD got = 99;
  EXPECT_EQ(device->read(buffer, sizeof buffer, 10, &got), (DWORD)ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(events(trace(), "TX").size(), 5u);
}

TEST_F(Options, UnplugWakesAPendingRead) {
  open("sim:?unplug=2,instant");
  configure(false, true);
  std::future<DWORD> read = std::async(std::launch::async, [this] {
    BYTE buffer[8];
    DWORD got = 0;
    return device->read(buffer, sizeof buffer, 10, &got);
  });
  EXPECT_EQ(read.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  send({0x01, 0x02});
  ASSERT_EQ(read.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(read.get(), (DWORD)ERROR_DEVICE_NOT_CONNECTED);
}

TEST_F(Options, UnplugZeroIsGoneFromTheStart) {
  open("sim:?unplug=0");
  EXPECT_EQ(configure(false, true), (DWORD)ERROR_GEN_FAILURE);
}

TEST_F(Options, OptionsCombineWithADir) {
  open("sim:" + dir() + "?cpu=6,fail=2,instant");
  EXPECT_TRUE(file_exists(dir() + "/cvs.txt"));
  enter_service_mode();
  EXPECT_TRUE(ask(0x00, 0x00, 0x00, 0xAF));
  EXPECT_FALSE(ask(0x00, 0x00, 0x00, 0xAF));
}

class RefusedName : public ::testing::TestWithParam<const char *> {};

INSTANTIATE_TEST_SUITE_P(Names, RefusedName,
                         ::testing::Values("sim:?bogus", "sim:?Absent", "sim:?fail=0", "sim:?fail=",
                                           "sim:?fail=-1", "sim:?fail=x", "sim:?cpu=7",
                                           "sim:?unplug=1e3", "sim:?absent,stuck", "sim:?instant,",
                                           "sim:?", "sim:?,instant", "sim:?fail=1234567890"));

TEST_P(RefusedName, FailsWithInvalidParameter) {
  DWORD error = 0;
  SerialDevice *device = virtual_receiver_open_device(GetParam(), &error);
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(error, (DWORD)ERROR_INVALID_PARAMETER);
  delete device;
}

TEST(RefusedNameWithDir, CreatesNothing) {
  std::string parent = make_temp_dir("vr-test");
  std::string dir = parent + "/receiver";
  DWORD error = 0;
  SerialDevice *device = virtual_receiver_open_device(("sim:" + dir + "?nonsense").c_str(), &error);
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(error, (DWORD)ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(file_exists(dir));
  delete device;
  remove_tree(parent);
}

}  // namespace

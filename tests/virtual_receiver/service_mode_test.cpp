// The service mode as tarvel sees it: wake sequences, bit queries, verify,
// write, quit, and the ERR lines for what the receiver cannot take.
#include "tests/virtual_receiver/receiver_fixture.h"

namespace {

class ServiceMode : public ReceiverTest {};

// Normal CV 29 holds 28 (0001 1100) from the factory; the worked example
// needs 6 (0000 0110).
TEST_F(ServiceMode, WorkedExampleAnswersBitByBitAndConfirms) {
  open("sim:");
  vr_set_cv(vr, 0, 29, 6);
  enter_service_mode();
  const struct {
    int mask;
    bool dsr;
  } answers[] = {{0x01, false}, {0x02, true},  {0x04, true},  {0x08, false},
                 {0x10, false}, {0x20, false}, {0x40, false}, {0x80, false}};
  for (const auto &a : answers) {
    EXPECT_EQ(ask(0x00, 0x1C, a.mask, 0xB0), a.dsr) << "mask " << a.mask;
    pause_us(3000);
  }
  EXPECT_TRUE(ask(0x00, 0x1C, 0x06, 0xAF));
  EXPECT_EQ(vr_error_count(vr), 0) << trace();
}

TEST_F(ServiceMode, CommandsAnswerFromTheRightBankAndCv) {
  open("sim:");
  enter_service_mode();
  const struct {
    int bank, index, data, opcode;
    bool dsr;
  } cases[] = {
      {0x00, 0x00, 0x00, 0xAF, true},   // CV 1 = 0
      {0x00, 0x00, 0x01, 0xAF, false},  // not 1
      {0x00, 0xFF, 0xFF, 0xAF, true},   // CV 256 = 255
      {0x01, 0xFF, 0x00, 0xAF, true},   // alternative CV 256 = 0
      {0x01, 0x00, 0xFF, 0xAF, true},   // alternative CV 1 = 255
      {0x01, 0x1C, 0x80, 0xB0, true},   // alternative CV 29 = 227 = 1110 0011
      {0x01, 0x1C, 0x04, 0xB0, false}, {0x00, 0x1C, 0x10, 0xB0, true},  // CV 29 = 28 = 0001 1100
      {0x00, 0x1C, 0x01, 0xB0, false},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(ask(c.bank, c.index, c.data, c.opcode), c.dsr)
        << c.bank << " " << c.index << " " << c.data << " " << c.opcode;
    pause_us(3000);
  }
  EXPECT_EQ(vr_error_count(vr), 0) << trace();
}

TEST_F(ServiceMode, WriteStoresWithoutAnswerAndVerifiesAfterwards) {
  open("sim:");
  enter_service_mode();
  EXPECT_FALSE(ask(0x01, 0x06, 0x0C, 0xAE));  // alternative CV 7 = 12
  pause_us(10000);
  EXPECT_EQ(vr_cv(vr, 1, 7), 12);
  EXPECT_EQ(vr_cv(vr, 0, 7), 6);  // the normal bank is untouched
  EXPECT_TRUE(ask(0x01, 0x06, 0x0C, 0xAF));
}

TEST_F(ServiceMode, QuitLeavesTheServiceMode) {
  open("sim:");
  enter_service_mode();
  send({0xEE, 0xEE, 0xEE, 0xEE});
  EXPECT_EQ(vr_state(vr), VR_RUNNING);
  // Commands are plain bytes again.
  send({0x00, 0x00, 0x05, 0xAE});
  EXPECT_EQ(vr_cv(vr, 0, 1), 0);
  EXPECT_EQ(vr_error_count(vr), 0);
}

TEST_F(ServiceMode, AnswerStaysUntilTheNextCommandBegins) {
  open("sim:");
  enter_service_mode();
  EXPECT_TRUE(ask(0x00, 0x00, 0x00, 0xAF));
  pause_us(3000);
  EXPECT_TRUE(dsr());
  send({0x00});
  EXPECT_FALSE(dsr());
}

struct WakeCase {
  const char *name;
  std::vector<int> bytes;
  VrState state;
};

class WakeSequence : public ReceiverTest, public ::testing::WithParamInterface<WakeCase> {};

std::vector<int> joined(std::vector<int> a, const std::vector<int> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, WakeSequence,
    ::testing::Values(
        WakeCase{"service", SERVICE_WAKE, VR_SERVICE},
        WakeCase{"bootloader", BOOT_WAKE, VR_BOOTLOADER},
        WakeCase{"after_A", joined({0x41}, SERVICE_WAKE), VR_SERVICE},
        WakeCase{"restarted", joined({0xF3, 0xF4, 0xF5}, SERVICE_WAKE), VR_SERVICE},
        WakeCase{"one_short",
                 {0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0x55},
                 VR_RUNNING},
        WakeCase{"gap",
                 {0xF3, 0xF4, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0x55},
                 VR_RUNNING},
        WakeCase{"U_alone", {0x55}, VR_RUNNING}),
    [](const ::testing::TestParamInfo<WakeCase> &info) { return std::string(info.param.name); });

TEST_P(WakeSequence, EntersTheModeItSpells) {
  open("sim:");
  configure(false, true);
  send(GetParam().bytes);
  EXPECT_EQ(vr_state(vr), GetParam().state);
  // Bytes outside a mode only pass by.
  EXPECT_EQ(vr_error_count(vr), 0) << trace();
}

TEST_F(ServiceMode, DtrHoldsTheReceiverInResetAndIgnoresBytes) {
  open("sim:");
  configure(true, true);
  EXPECT_EQ(vr_state(vr), VR_RESET);
  send(SERVICE_WAKE);
  EXPECT_EQ(vr_state(vr), VR_RESET);
  configure(false, true);
  EXPECT_EQ(vr_state(vr), VR_RUNNING);
  send(SERVICE_WAKE);
  EXPECT_EQ(vr_state(vr), VR_SERVICE);
  configure(true, true);  // a reset ends the service mode
  EXPECT_EQ(vr_state(vr), VR_RESET);
  EXPECT_EQ(vr_error_count(vr), 0);
}

struct BadCommand {
  const char *name;
  std::vector<int> bytes;
  const char *err;
};

class MalformedCommand : public ReceiverTest, public ::testing::WithParamInterface<BadCommand> {};

INSTANTIATE_TEST_SUITE_P(
    Commands, MalformedCommand,
    ::testing::Values(
        BadCommand{"unknown_opcode", {0x00, 0x1C, 0x06, 0x12}, "ERR unknown command 00 1C 06 12"},
        BadCommand{"bank_2", {0x02, 0x1C, 0x06, 0xAE}, "ERR bank 02 in command 02 1C 06 AE"},
        BadCommand{"mask_two_bits",
                   {0x00, 0x1C, 0x06, 0xB0},
                   "ERR query mask 06 has not exactly one bit set"},
        BadCommand{
            "mask_zero", {0x00, 0x1C, 0x00, 0xB0}, "ERR query mask 00 has not exactly one bit set"},
        BadCommand{"half_quit", {0x00, 0x1C, 0xEE, 0xEE}, "ERR unknown command 00 1C EE EE"}),
    [](const ::testing::TestParamInfo<BadCommand> &info) { return std::string(info.param.name); });

TEST_P(MalformedCommand, IsAnErrLineAndChangesNothing) {
  open("sim:");
  enter_service_mode();
  send(GetParam().bytes);
  pause_us(1000);
  EXPECT_FALSE(dsr());
  EXPECT_EQ(vr_error_count(vr), 1);
  EXPECT_EQ(events(trace(), "ERR"), std::vector<std::string>{GetParam().err});
  EXPECT_EQ(vr_cv(vr, 0, 29), 28);
  EXPECT_EQ(vr_state(vr), VR_SERVICE);
}

TEST_F(ServiceMode, DsrSampledBeforeOneMillisecondIsAnErrAndNotAsserted) {
  open("sim:");
  enter_service_mode();
  const struct {
    int64_t wait_us;
    bool dsr;
    int errors;
  } cases[] = {{0, false, 1}, {999, false, 2}, {1000, true, 2}, {5000, true, 2}};
  for (const auto &c : cases) {
    send({0x00, 0x00, 0x00, 0xAF});  // CV 1 = 0: confirmed once the answer is there
    pause_us(c.wait_us);
    EXPECT_EQ(dsr(), c.dsr) << c.wait_us;
    EXPECT_EQ(vr_error_count(vr), c.errors) << c.wait_us;
  }
  std::vector<std::string> errs = events(trace(), "ERR");
  ASSERT_EQ(errs.size(), 2u);
  EXPECT_EQ(errs[0], "ERR DSR sampled 0 us after the opcode");
  EXPECT_EQ(errs[1], "ERR DSR sampled 999 us after the opcode");
}

TEST_F(ServiceMode, ByteAtOtherLineSettingsIsAnErrAndIgnored) {
  open("sim:");
  configure(false, true, 9600);
  send(SERVICE_WAKE);
  EXPECT_EQ(vr_state(vr), VR_RUNNING);
  EXPECT_EQ(vr_error_count(vr), 13);
  EXPECT_EQ(events(trace(), "ERR")[0], "ERR byte at 9600 8N1");
  EXPECT_EQ(events(trace(), "TX").size(), 13u);  // the bytes were on the line all the same
}

}  // namespace

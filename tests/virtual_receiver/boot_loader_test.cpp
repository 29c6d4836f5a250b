// The boot loader as morrex sees it: handshake, count-up, page records, the
// flash image in memory and in flash.bin.
#include "tests/virtual_receiver/receiver_fixture.h"

namespace {

std::vector<int> handshake() {
  std::vector<int> bytes = {'!', 0x5A};
  for (int i = 0; i < 256; ++i) bytes.push_back(i);
  return bytes;
}

// A page record whose data bytes are seed, seed + 1, ...
std::vector<int> page_record(int page, int page_size, int seed) {
  std::vector<int> bytes = {'u', page};
  for (int i = 0; i < page_size; ++i) bytes.push_back((seed + i) & 0xFF);
  return bytes;
}

class BootLoader : public ReceiverTest {
 protected:
  void start(const std::string &name) {
    open(name);
    configure(false, false);
    send(BOOT_WAKE);
    ASSERT_EQ(vr_state(vr), VR_BOOTLOADER);
  }
};

struct PageSizeCase {
  const char *option;
  int page_size;
};

class FlashImage : public BootLoader, public ::testing::WithParamInterface<PageSizeCase> {};

INSTANTIATE_TEST_SUITE_P(Cpu, FlashImage,
                         ::testing::Values(PageSizeCase{"", 64}, PageSizeCase{"cpu=8", 64},
                                           PageSizeCase{"cpu=6", 128}),
                         [](const ::testing::TestParamInfo<PageSizeCase> &info) {
                           return std::string(info.param.option[0] ? info.param.option + 4
                                                                   : "default");
                         });

TEST_P(FlashImage, PagesLandAtTheirNumberAndFlashBinIsWrittenAtTheEnd) {
  int size = GetParam().page_size;
  start("sim:" + dir() + "?instant" + (GetParam().option[0] ? "," : "") + GetParam().option);
  send(handshake());
  send(page_record(2, size, 0x40));
  send({0xCC});
  send(page_record(0, size, 0x10));
  EXPECT_FALSE(file_exists(dir() + "/flash.bin"));  // only the end record writes it
  send({'3'});

  std::vector<uint8_t> expected(3 * size, 0xFF);  // page 1 stays erased
  for (int i = 0; i < size; ++i) {
    expected[i] = (uint8_t)(0x10 + i);
    expected[2 * size + i] = (uint8_t)(0x40 + i);
  }
  EXPECT_EQ(vr_flash(vr), expected);
  std::string file = read_text(dir() + "/flash.bin");
  EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.end()), expected);
  EXPECT_EQ(vr_state(vr), VR_RUNNING);
  EXPECT_EQ(vr_error_count(vr), 0) << trace();
}

TEST_F(BootLoader, AnUpdateOverwritesOnlyItsPages) {
  start("sim:" + dir() + "?instant");
  send(handshake());
  send(page_record(0, 64, 0));
  send(page_record(1, 64, 0x80));
  send({'3'});
  close();
  start("sim:" + dir() + "?instant");
  send(handshake());
  send(page_record(1, 64, 0x20));
  send({'3'});
  std::vector<uint8_t> flash = vr_flash(vr);
  ASSERT_EQ(flash.size(), 128u);
  EXPECT_EQ(flash[5], 5);      // page 0 as the first update left it
  EXPECT_EQ(flash[64], 0x20);  // page 1 from the second
}

struct BadBootInput {
  const char *name;
  std::vector<int> bytes;
  const char *err;
};

class MalformedBootInput : public BootLoader, public ::testing::WithParamInterface<BadBootInput> {};

std::vector<int> count_up_with(int at, int value) {
  std::vector<int> bytes = handshake();
  bytes[2 + at] = value;
  return bytes;
}

std::vector<int> handshake_then(std::vector<int> more) {
  std::vector<int> bytes = handshake();
  bytes.insert(bytes.end(), more.begin(), more.end());
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Input, MalformedBootInput,
    ::testing::Values(BadBootInput{"no_bang", {'?'}, "ERR boot loader expected 21 ('!'), got 3F"},
                      BadBootInput{"count_up", count_up_with(4, 0x07),
                                   "ERR count-up byte 07 where 04 was due"},
                      BadBootInput{"lead_U", handshake_then({'U'}), "ERR record lead byte 55"},
                      BadBootInput{"lead_00", handshake_then({0x00}), "ERR record lead byte 00"}),
    [](const ::testing::TestParamInfo<BadBootInput> &info) {
      return std::string(info.param.name);
    });

TEST_P(MalformedBootInput, IsOneErrLine) {
  start("sim:?instant");
  send(GetParam().bytes);
  EXPECT_EQ(events(trace(), "ERR"), std::vector<std::string>{GetParam().err});
  EXPECT_EQ(vr_state(vr), VR_BOOTLOADER);
  EXPECT_TRUE(vr_flash(vr).empty());
}

TEST_F(BootLoader, ResetDuringTheUpdateLeavesFlashBinAlone) {
  start("sim:" + dir() + "?instant");
  send(handshake());
  send(page_record(0, 64, 0));
  configure(true, true);
  configure(false, false);
  EXPECT_EQ(vr_state(vr), VR_RUNNING);
  EXPECT_FALSE(file_exists(dir() + "/flash.bin"));
}

}  // namespace

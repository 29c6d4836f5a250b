// The wire trace's words, which the port's trace on both systems and the
// virtual receiver's wire.log share: line settings, RTS, lines, byte batches.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/wire_trace_text.h"

namespace {

TEST(WireTraceText, LineSettingsReadAsTheOtherSideIsSet) {
  struct Row {
    unsigned long baud;
    unsigned byte_size, parity, stop_bits;
    const char *text;
  } rows[] = {
      {38400, 8, NOPARITY, ONESTOPBIT, "38400 8N1"},
      {9600, 7, EVENPARITY, TWOSTOPBITS, "9600 7E2"},
      {1200, 5, ODDPARITY, ONE5STOPBITS, "1200 5O1.5"},
      {300, 8, MARKPARITY, ONESTOPBIT, "300 8M1"},
      {300, 8, SPACEPARITY, ONESTOPBIT, "300 8S1"},
      // Values no DCB holds are shown as such, never read past a table.
      {38400, 8, 5, 3, "38400 8??"},
      {38400, 8, 255, 255, "38400 8??"},
  };
  for (const Row &row : rows) {
    char text[32];
    wire_trace_line_settings(row.baud, row.byte_size, row.parity, row.stop_bits, text, sizeof text);
    EXPECT_STREQ(text, row.text);
  }
}

TEST(WireTraceText, RtsStandsOnWhenEnabledOrUnderHandshake) {
  EXPECT_TRUE(wire_trace_rts_on(RTS_CONTROL_ENABLE));
  EXPECT_TRUE(wire_trace_rts_on(2));   // RTS_CONTROL_HANDSHAKE
  EXPECT_FALSE(wire_trace_rts_on(0));  // RTS_CONTROL_DISABLE
  EXPECT_FALSE(wire_trace_rts_on(3));  // RTS_CONTROL_TOGGLE: only while sending
#ifdef _WIN32
  EXPECT_TRUE(wire_trace_rts_on(RTS_CONTROL_HANDSHAKE));
  EXPECT_FALSE(wire_trace_rts_on(RTS_CONTROL_TOGGLE));
#endif
}

TEST(WireTraceText, LinesThatDoNotFitWholeAreLeftOut) {
  const char *values[] = {"41", "55", "EE"};
  struct Row {
    size_t size;
    const char *text;
  } rows[] = {
      {64, "12 TX 41\n12 TX 55\n12 TX EE\n"},
      {19, "12 TX 41\n12 TX 55\n"},  // the third needs 9 more and the NUL
      {18, "12 TX 41\n"},
      {9, ""},
      {1, ""},
  };
  for (const Row &row : rows) {
    std::vector<char> text(row.size, 'x');
    int used = wire_trace_lines(text.data(), row.size, 12, "TX", values, 3);
    EXPECT_STREQ(text.data(), row.text) << row.size;
    EXPECT_EQ(used, (int)std::string(row.text).size());
  }
}

TEST(WireTraceText, BytesGoInBatchesOfHexValues) {
  std::vector<unsigned char> data(130);
  for (size_t i = 0; i < data.size(); i++) data[i] = (unsigned char)(i * 7);
  std::vector<std::vector<std::string>> batches;
  wire_trace_bytes(
      data.data(), data.size(),
      [](void *context, const char *const *values, int count) {
        auto *found = static_cast<std::vector<std::vector<std::string>> *>(context);
        found->emplace_back(values, values + count);
      },
      &batches);
  ASSERT_EQ(batches.size(), 3u);
  EXPECT_EQ(batches[0].size(), (size_t)WIRE_TRACE_BATCH);
  EXPECT_EQ(batches[1].size(), (size_t)WIRE_TRACE_BATCH);
  EXPECT_EQ(batches[2], (std::vector<std::string>{"80", "87"}));  // 128 * 7, 129 * 7 mod 256
  EXPECT_EQ(batches[0][1], "07");
  wire_trace_bytes(
      data.data(), 0, [](void *, const char *const *, int) { FAIL() << "no bytes, no batch"; },
      nullptr);
}

}  // namespace

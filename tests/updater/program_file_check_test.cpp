// The program file check that runs before anything is sent: which files are
// taken, which are refused with which exit code, and what is kept for sending.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/updater/program_files.h"
#include "updater/updater.h"

namespace {

// Loads bytes through a real stream, as the run does; *position: where the
// stream stood afterwards.
int load(const Bytes &bytes, long *position = nullptr) {
  FILE *file = tmpfile();
  if (file == nullptr) {
    ADD_FAILURE() << "no temporary file";
    return -1;
  }
  if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), file);
  rewind(file);
  int result = load_program_file(file);
  if (position != nullptr) *position = ftell(file);
  fclose(file);
  return result;
}

struct FileCase {
  const char *what;
  Bytes bytes;
  int result;
};

const Bytes ends = {END_RECORD};
const Bytes single = {SINGLE_BYTE_RECORD};

// A file of size bytes: the header, single-byte records and, with end, the
// end record as its last byte.
Bytes sized_file(size_t size, bool end) {
  Bytes bytes = {'8', 'U'};
  bytes.resize(size, SINGLE_BYTE_RECORD);
  if (end) bytes.back() = END_RECORD;
  return bytes;
}

std::vector<FileCase> file_cases() {
  return {
      {"empty", {}, EXIT_CPU_ID},
      {"unknown CPU", {'9', 0x11, END_RECORD}, EXIT_CPU_ID},
      {"Latin-1 look-alike CPU", {0xB8, 0x11, END_RECORD}, EXIT_CPU_ID},
      {"CPU only", {'8'}, EXIT_FILE_ENDS},
      {"no records", {'8', 0x11}, EXIT_FILE_ENDS},
      {"smallest good file", {'8', 0x11, END_RECORD}, 0},
      {"CPU 6, end only", {'6', 0x22, END_RECORD}, 0},
      {"single-byte records", {'8', 0x11, 0xCC, 0xCC, END_RECORD}, 0},
      {"64-byte pages", join({{'8', 0x11}, page_record(0, 64, 1), page_record(1, 64, 7), ends}), 0},
      {"128-byte pages", join({{'6', 0x11}, page_record(0, 128, 1), ends}), 0},
      {"no end record", join({{'8', 0x11}, page_record(0, 64, 1), single}), EXIT_FILE_ENDS},
      {"ends inside a page", join({{'8', 0x11}, Bytes{PAGE_RECORD, 0, 1, 2, 3}}), EXIT_FILE_ENDS},
      {"page one byte short", join({{'8', 0x11}, page_record(0, 63, 1)}), EXIT_FILE_ENDS},
      // With CPU 6 a 64-byte page swallows the end record and the file runs out.
      {"64-byte page under CPU 6", join({{'6', 0x11}, page_record(0, 64, 1), ends}),
       EXIT_FILE_ENDS},
      // With CPU 8 a 128-byte page leaves page data where a lead byte is due.
      {"128-byte page under CPU 8", join({{'8', 0x11}, page_record(0, 128, 0x41), ends}),
       EXIT_BAD_RECORD},
      {"upper-case U", {'8', 0x11, 'U', END_RECORD}, EXIT_BAD_RECORD},
      {"lead byte 0x00", {'8', 0x11, 0xCC, 0x00, END_RECORD}, EXIT_BAD_RECORD},
      {"lead byte 0xFF", {'8', 0x11, 0xFF}, EXIT_BAD_RECORD},
      {"bad lead byte after good pages",
       join({{'8', 0x11}, page_record(0, 64, 1), Bytes{0x20}, ends}), EXIT_BAD_RECORD},
      {"garbage after the end record", {'8', 0x11, END_RECORD, 0x00, 'U', 0xFF}, 0},
      {"a second CPU byte after the end", {'8', 0x11, END_RECORD, 'x'}, 0},
      // The size limit counts every byte up to and including the end record.
      {"exactly the size limit", sized_file(PROGRAM_FILE_LIMIT, true), 0},
      {"one byte over the size limit", sized_file(PROGRAM_FILE_LIMIT + 1, true), EXIT_PROGRAM_FILE},
      {"endless single-byte records", sized_file(3 * PROGRAM_FILE_LIMIT, false), EXIT_PROGRAM_FILE},
      {"garbage after the end record of a file at the limit",
       join({sized_file(PROGRAM_FILE_LIMIT, true), Bytes(5000, 0xEE)}), 0},
  };
}

class ProgramFileCheck : public ::testing::TestWithParam<FileCase> {};

TEST_P(ProgramFileCheck, TakesOrRefusesTheWholeFile) {
  const FileCase &c = GetParam();
  EXPECT_EQ(load(c.bytes), c.result) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Files, ProgramFileCheck, ::testing::ValuesIn(file_cases()),
                         [](const ::testing::TestParamInfo<FileCase> &info) {
                           std::string name;
                           for (const char *p = info.param.what; *p; p++)
                             name += isalnum((unsigned char)*p) ? *p : '_';
                           return name;
                         });

TEST(ProgramFileCheck, KeepsPageSizeHandshakeByteAndEveryRecordUpToTheEnd) {
  Bytes records = join({page_record(3, 128, 9), single, page_record(0, 128, 200), ends});
  ASSERT_EQ(load(join({{'6', 0xA5}, records, Bytes{'t', 'a', 'i', 'l'}})), 0);
  EXPECT_EQ(page_size, 128);
  EXPECT_EQ(handshake_byte, 0xA5);
  EXPECT_EQ(program_records, records);

  ASSERT_EQ(load(join({{'8', 0x00}, page_record(1, 64, 0), ends})), 0);
  EXPECT_EQ(page_size, 64);
  EXPECT_EQ(handshake_byte, 0x00);
  EXPECT_EQ(program_records, join({page_record(1, 64, 0), ends}));
}

TEST(ProgramFileCheck, NeverReadsPastTheEndRecord) {
  long position = -1;
  Bytes head = join({{'8', 0x11}, page_record(0, 64, 1), single, ends});
  ASSERT_EQ(load(join({head, Bytes(1000, 0xEE)}), &position), 0);
  EXPECT_EQ(position, (long)head.size());
}

}  // namespace

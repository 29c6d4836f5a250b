// tarvel's command line in one process: every way that ends the run before a
// port is opened comes back from tarvel_main with its exit code and its
// message, and the test process lives on to check the next.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cvtool/cvtool.h"
#include "cvtool/options.h"
#include "tests/support/temp_dir_fixture.h"

namespace {

struct CommandLineCase {
  // After "tarvel"; GOOD, BAD and MISSING stand for files in the test's
  // folder: one CV line, one CV line and a refused one, none at all; OLD a
  // backup that is not there.
  std::vector<std::string> arguments;
  int code;
  const char *printed;  // a part of what goes to standard output or error
};

const CommandLineCase command_line_cases[] = {
    {{"--bogus", "3"},
     9,
     "tarvel: unbekannte Option: --bogus (tarvel --help zeigt die Optionen)\n"},
    {{"-x"}, 9, "tarvel: unbekannte Option: -x (tarvel --help zeigt die Optionen)\n"},
    {{"--read-out"}, 9, "tarvel: Dateiname fehlt nach: --read-out ("},
    {{"--read-out", "a", "--program", "b", "3"}, 9, "tarvel: nur ein Auftrag: --program ("},
    {{"--force", "3"}, 9, "tarvel: nur mit --read-out oder --backup: --force ("},
    {{"--force", "--compare", "GOOD", "3"},
     9,
     "tarvel: nur mit --read-out oder --backup: --force ("},
    {{"-q", "3"},
     9,
     "tarvel: nur mit --read-out, --program, --compare, --read oder --write: --quiet ("},
    {{"--quiet", "--check"},
     9,
     "tarvel: nur mit --read-out, --program, --compare, --read oder --write: --quiet ("},
    // What the messages name is taken.
    {{"--force", "--check", "--program", "GOOD", "--backup", "OLD"}, 0, "GOOD: 1 CVs zu schreiben"},
    {{"-q", "--check", "--compare", "GOOD"}, 0, "GOOD: 1 CVs zu vergleichen"},
    {{"-q", "--check", "--program", "BAD"}, 2, "Zeile 2: CV 300 = 1: ung"},
    {{"--program", "GOOD"}, 9, "tarvel: Schnittstelle fehlt: "},
    {{"--program", "MISSING", "3"}, 3, "MISSING: No such file or directory\n"},
    {{"--check", "--compare", "MISSING"}, 3, "MISSING: No such file or directory\n"},
    {{"--check", "--program", "GOOD"}, 0, "GOOD: 1 CVs zu schreiben, 0 Zeilen ung"},
    {{"--check", "--program", "BAD"}, 2, "BAD: 1 CVs zu schreiben, 1 Zeilen ung"},
    {{"--help"}, 0, "Usage: tarvel comx [Datenfile]\n"},
    {{"--version"}, 0, "\nCVs Lesen und schreiben Version 1.0, 1.2.2007\n"},
};

class EarlyExit : public TempDirFixture, public testing::WithParamInterface<CommandLineCase> {
 protected:
  EarlyExit() : TempDirFixture("tarvel_early_exit") {}

  void SetUp() override {
    TempDirFixture::SetUp();
    write_file("GOOD", "CV 1 = 5\n");
    write_file("BAD", "CV 1 = 5\nCV 300 = 1\n");
  }

  void write_file(const std::string &name, const char *text) {
    FILE *file = fopen((dir + "/" + name).c_str(), "w");
    ASSERT_NE(file, nullptr);
    fputs(text, file);
    fclose(file);
  }

  // The file names of the table as paths in the test's folder.
  std::string in_folder(std::string text) {
    for (const char *name : {"GOOD", "BAD", "MISSING", "OLD"}) {
      size_t at = text.find(name);
      if (at != std::string::npos) text.replace(at, strlen(name), dir + "/" + name);
    }
    return text;
  }
};

TEST_P(EarlyExit, EndsWithItsCodeAndMessage) {
  const CommandLineCase &c = GetParam();
  std::vector<std::string> arguments = {"tarvel"};
  for (const std::string &a : c.arguments) arguments.push_back(in_folder(a));
  std::vector<char *> argv;
  for (std::string &a : arguments) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  tarvel_options = TarvelOptions{};
  data_file_name[0] = '\0';
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  int code = tarvel_main((int)arguments.size(), argv.data());
  std::string printed = testing::internal::GetCapturedStdout();
  printed += testing::internal::GetCapturedStderr();
  EXPECT_EQ(code, c.code);
  EXPECT_NE(printed.find(in_folder(c.printed)), std::string::npos) << printed;
}

INSTANTIATE_TEST_SUITE_P(Table, EarlyExit, testing::ValuesIn(command_line_cases));

}  // namespace

// Through the built tarvel on the virtual receiver: every path that refuses a
// line of a data file shows the line's controls as glyphs, whether standard
// output is a file, a pipe or a terminal; jobs name the line's number and skip
// blank lines, the menu's p keeps its words; a quit sequence that does not
// reach the port is said and ends with 4; morrex shows an unknown option as
// glyphs.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir_fixture.h"

namespace {

namespace fs = std::filesystem;

const std::string INVALID = "ung\xC3\xBCltige zeile: ";
const std::string VALUE_RANGE = INVALID + "Wert muss zwischen 0 und 255 liegen\n";

// The terminal's bytes without the programs' own sequences: the title (OSC 0
// ... BEL), CSI sequences, the CAN that ends a run.
std::string text_only(const std::string &terminal) {
  static const std::regex own("\x1b\\]0;[^\x07\x1b]*\x07|\x1b\\[[0-9;?]*[ -/]*[@-~]|\x18");
  return std::regex_replace(terminal, own, "");
}

// A control a terminal would obey: C0 but LF and CR, DEL, a C1 as UTF-8.
::testing::AssertionResult nothing_obeyable(const std::string &text) {
  for (size_t i = 0; i < text.size(); i++) {
    unsigned char byte = (unsigned char)text[i];
    bool control = (byte < 0x20 && byte != '\n' && byte != '\r') || byte == 0x7F;
    bool c1 = byte == 0xC2 && i + 1 < text.size() && (unsigned char)text[i + 1] >= 0x80 &&
              (unsigned char)text[i + 1] < 0xA0;
    if (control || c1) {
      return ::testing::AssertionFailure() << "byte " << (int)byte << " at " << i
                                           << " in: " << text.substr(i > 40 ? i - 40 : 0, 80);
    }
  }
  return ::testing::AssertionSuccess();
}

const char *output_name(ProgramOutput output) {
  if (output == OUTPUT_FILE) return "file";
  return output == OUTPUT_PIPE ? "pipe" : "terminal";
}

class Refusals : public TempDirFixture {
 protected:
  Refusals() : TempDirFixture("tarvel_refusals") {}

  // Runs tarvel with keys (each given at once, then the end of the input).
  ProgramRun run(ProgramOutput output, const std::vector<std::string> &args,
                 const std::string &keys = "", const char *path = TARVEL_PATH) {
    fs::remove_all(dir + "/r");
    RunOptions options;
    int pipe_ends[2] = {-1, -1};
    if (!keys.empty() && pipe(pipe_ends) == 0) {
      EXPECT_EQ(write(pipe_ends[1], keys.data(), keys.size()), (ssize_t)keys.size());
      close(pipe_ends[1]);
      options.stdin_fd = pipe_ends[0];
    }
    ProgramRun r = run_program_into(output, path, with_dir(args, dir), dir, options);
    if (pipe_ends[0] >= 0) close(pipe_ends[0]);
    return r;
  }

  int bytes_sent() { return count_of(read_text(dir + "/r/wire.log"), " TX "); }
};

// ---------------------------------------------------------------- refused lines

struct RefusalPath {
  const char *what;
  std::vector<std::string> args;  // "%" is the test's folder, p.txt the data file
  std::string keys;               // the menu's keys; none for a job
  bool numbered;                  // a job: "Zeile N: " and no blank line refused
  int code;
};

const RefusalPath refusal_paths[] = {
    {"--program", {"--program", "%/p.txt", "sim:%/r"}, "", true, 2},
    {"--compare", {"--compare", "%/p.txt", "sim:%/r"}, "", true, 2},
    {"--check --program", {"--check", "--program", "%/p.txt"}, "", true, 2},
    {"--check --compare", {"--check", "--compare", "%/p.txt"}, "", true, 2},
    {"-q --program", {"-q", "--program", "%/p.txt", "sim:%/r"}, "", true, 2},
    {"the menu's p", {"sim:%/r", "%/p.txt"}, "pq", false, 0},
};

struct OutsideText {
  const char *what;
  std::string bytes;  // after "CV 6 = 300 " in the file
  std::string shown;  // what every output gets for it
};

const OutsideText outside_texts[] = {
    {"ESC: clear the screen", "\x1b[2J\x1b[H", "\xE2\x86\x90[2J\xE2\x86\x90[H"},
    {"BEL", "\a\a", "\xE2\x80\xA2\xE2\x80\xA2"},
    {"OSC: a window title", "\x1b]0;Titel\a", "\xE2\x86\x90]0;Titel\xE2\x80\xA2"},
    {"OSC 8 up to ST", "\x1b]8;;http://x\x1b\\", "\xE2\x86\x90]8;;http://x\xE2\x86\x90\\"},
    {"CSI as UTF-8",
     "\xC2\x9B"
     "8m",
     "\xE2\x94\xAC\xC3\xB8"
     "8m"},
};

// Line 1 is programmed, 2 is refused with outside text, 3 is blank, 4 is
// refused; the receiver holds 2 in CV 3.
std::string data_file(const OutsideText &outside) {
  return "CV 3 = 2\nCV 6 = 300 " + outside.bytes + "\n \t\nCV 7 = 300 danach\n";
}

TEST_F(Refusals, EveryPathShowsTheRefusedLineAsGlyphsIntoEveryOutput) {
  for (const OutsideText &outside : outside_texts) {
    write_text(dir + "/p.txt", data_file(outside));
    for (const RefusalPath &path : refusal_paths) {
      for (ProgramOutput output : {OUTPUT_FILE, OUTPUT_PIPE, OUTPUT_TERMINAL}) {
        SCOPED_TRACE(std::string(outside.what) + ", " + path.what + ", " + output_name(output));
        ProgramRun r = run(output, path.args, path.keys);
        // On a terminal the programs' own sequences (title, colours) stand
        // between lines; a line feed first, so that each line follows one.
        std::string text = "\n" + (output == OUTPUT_TERMINAL ? text_only(r.out) : r.out);
        EXPECT_EQ(r.code, path.code) << text << r.err;
        // On a terminal the first refusal is printed over the CR-ended
        // progress line of line 1 (the menu's p always, a job on a terminal).
        std::string start = !path.numbered              ? ""
                            : output == OUTPUT_TERMINAL ? "Zeile 2: "
                                                        : "\nZeile 2: ";
        std::string echo = start + "CV 6 = 300 " + outside.shown + ": " + VALUE_RANGE;
        EXPECT_NE(text.find(echo), std::string::npos) << text;
        start = path.numbered ? "\nZeile 4: " : "\n";
        EXPECT_NE(text.find(start + "CV 7 = 300 danach: " + VALUE_RANGE), std::string::npos)
            << text;
        // The blank line (a blank and a tab): refused by the menu's p, skipped by a job.
        std::string blank = "\n \xE2\x97\x8B: " + INVALID + "kein '='\n";
        EXPECT_EQ(count_of(text, blank), path.numbered ? 0 : 1) << text;
        EXPECT_EQ(count_of(text, "Zeile "), path.numbered ? 2 : 0) << text;
        EXPECT_EQ(count_of(text, INVALID), path.numbered ? 2 : 3);
        if (path.numbered) {
          EXPECT_NE(text.find(", 2 Zeilen ung\xC3\xBCltig"), std::string::npos);
        }
        EXPECT_TRUE(nothing_obeyable(text));
        EXPECT_TRUE(nothing_obeyable(r.err));
      }
    }
  }
}

// A job's refusal names its line, counted as the file has them: every line
// end (LF, CR LF, a lone CR) ends one, and a long line counts as one.
TEST_F(Refusals, AJobNamesTheNumberOfTheRefusedLine) {
  std::string lines = "CV 3 = 2\r\n# Kommentar\rCV 3 = 2\n" + std::string(1200, '#') +
                      "\nCV 300 = 1\n\n\nCV 3 = 2x\n";
  write_text(dir + "/p.txt", lines);
  for (const char *job : {"--program", "--compare"}) {
    SCOPED_TRACE(job);
    ProgramRun r = run(OUTPUT_FILE, {job, "%/p.txt", "sim:%/r"});
    EXPECT_EQ(r.code, 2) << r.out;
    EXPECT_NE(r.out.find("\nZeile 2: # Kommentar: " + INVALID + "kein '='\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\nZeile 4 zu lang (mehr als 999 Zeichen): nicht programmiert\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("\nZeile 5: CV 300 = 1: " + INVALID +
                         "CV muss zwischen 1 und 256 "
                         "liegen\n"),
              std::string::npos);
    EXPECT_EQ(count_of(r.out, INVALID), 2);
    EXPECT_NE(r.out.find(", 3 Zeilen ung\xC3\xBCltig"), std::string::npos) << r.out;
  }
}

// Blank lines ask for nothing in a job: a file with CR CR LF line ends, or one
// whose last line is blank, is a good file.
struct BlankCase {
  const char *what;
  std::string bytes;
};

const BlankCase blank_cases[] = {
    {"CR CR LF line ends", "CV 3 = 2\r\r\nCV 4a = 252\r\r\nCV 5 = 4\r\r\n"},
    {"a blank last line", "CV 3 = 2\nCV 4a = 252\n\n"},
    {"blanks and tabs", "\n \nCV 3 = 2\n\t\n  \t \n"},
};

const std::vector<std::string> blank_jobs[] = {
    {"--program", "%/p.txt", "sim:%/r"},
    {"--compare", "%/p.txt", "sim:%/r"},
    {"--check", "--program", "%/p.txt"},
    {"--check", "--compare", "%/p.txt"},
};

TEST_F(Refusals, ABlankLineIsNoRefusedLineInAJob) {
  for (const BlankCase &c : blank_cases) {
    write_text(dir + "/p.txt", c.bytes);
    for (const std::vector<std::string> &args : blank_jobs) {
      SCOPED_TRACE(std::string(c.what) + ", " + args[0] + " " + args[1]);
      ProgramRun r = run(OUTPUT_FILE, args);
      EXPECT_EQ(r.code, 0) << r.out;
      EXPECT_EQ(r.out.find(INVALID), std::string::npos) << r.out;
      EXPECT_NE(r.out.find(", 0 Zeilen ung\xC3\xBCltig"), std::string::npos) << r.out;
    }
  }
}

// ---------------------------------------------------------------- the quit sequence

struct QuitCase {
  const char *what;
  std::vector<std::string> args;  // the port last, without its options
  std::string keys;
  const char *summary;  // how the job's summary ends; "" where there is none
};

const QuitCase quit_cases[] = {
    {"--program", {"--program", "%/p.txt", "sim:%/r"}, "", ", Schnittstelle ausgefallen"},
    {"--compare", {"--compare", "%/p.txt", "sim:%/r"}, "", ", Schnittstelle ausgefallen"},
    {"--backup",
     {"--program", "%/p.txt", "--backup", "%/old.txt", "sim:%/r"},
     "",
     ", Schnittstelle ausgefallen"},
    {"the menu's q", {"sim:%/r"}, "q", ""},
    {"the menu's ESC", {"sim:%/r"}, "\x1b", ""},
};

// The receiver's quit sequence is four bytes at the end of the run; the port
// is pulled after `sent` of them.
TEST_F(Refusals, AQuitSequenceThatDoesNotReachThePortEndsWith4) {
  write_text(dir + "/p.txt", "CV 3 = 2\nCV 4a = 252\n");
  for (const QuitCase &c : quit_cases) {
    fs::remove(dir + "/old.txt");
    ProgramRun whole = run(OUTPUT_FILE, c.args, c.keys);
    ASSERT_EQ(whole.code, 0) << c.what << whole.out << whole.err;
    int all = bytes_sent();
    for (int sent : {0, 2, 3}) {
      SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(sent) + " quit bytes sent");
      fs::remove(dir + "/old.txt");
      std::vector<std::string> args = c.args;
      args.back() += "?unplug=" + std::to_string(all - 4 + sent);
      ProgramRun r = run(OUTPUT_FILE, args, c.keys);
      EXPECT_EQ(r.code, 4) << r.out << r.err;
      EXPECT_EQ(bytes_sent(), all - 4 + sent);
      std::string said = "Schreibfehler: " + std::to_string(4 - sent) +
                         " Bytes nicht gesendet, Empf\xC3\xA4nger nicht freigegeben\n";
      EXPECT_EQ(count_of(r.out, said), 1) << r.out;
      if (c.summary[0] != '\0') {
        EXPECT_NE(r.out.find(std::string(c.summary) + " (Exit-Code 4)\n"), std::string::npos)
            << r.out;
        EXPECT_LT(r.out.find(said), r.out.find(" (Exit-Code 4)"));
      }
    }
  }
}

// ---------------------------------------------------------------- morrex

TEST_F(Refusals, MorrexShowsAnUnknownOptionAsGlyphs) {
  for (ProgramOutput output : {OUTPUT_FILE, OUTPUT_PIPE, OUTPUT_TERMINAL}) {
    SCOPED_TRACE(output_name(output));
    ProgramRun r = run(output, {"--\x1b]0;Titel\a\x1b[2J", "3", "x.bin"}, "", MORREX_PATH);
    EXPECT_EQ(r.code, 9);
    // Its messages go to standard error, which is a file here.
    const std::string &err = r.err;
    EXPECT_NE(err.find("morrex: unbekannte Option: --\xE2\x86\x90]0;Titel\xE2\x80\xA2\xE2\x86\x90"
                       "[2J (morrex --help zeigt die Optionen)\n"),
              std::string::npos)
        << err;
    EXPECT_TRUE(nothing_obeyable(r.err));
  }
}

}  // namespace

// The --json document as json_report.cpp makes it, in the test's own process:
// every kind of CV record and of line check, checked by Python's json module
// (a real parser) and compared with what each record must say.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "cvtool/cvtool.h"
#include "cvtool/options.h"
#include "cvtool/json_report.h"
#include "link/line_check.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir_fixture.h"

namespace {

class JsonReport : public TempDirFixture {
 protected:
  JsonReport() : TempDirFixture("json_report") {}
  // Runs records between json_output_begin and json_finish(code) with
  // standard output in a file; returns that file's name.
  template <typename Records>
  std::string document(int code, Records records) {
    std::string path = dir + "/out.json";
    fflush(stdout);
    int kept = dup(STDOUT_FILENO);
    FILE *file = fopen(path.c_str(), "w");
    dup2(fileno(file), STDOUT_FILENO);
    tarvel_options = {};
    tarvel_options.json = 1;
    tarvel_options.job = COMPARE_JOB;
    tarvel_options.compare = "c.txt";
    command_line_port = "sim:r";
    EXPECT_EQ(json_output_begin(), 0);
    printf("a message\n");  // goes to standard error
    records();
    EXPECT_EQ(json_finish(code), code);
    fflush(stdout);
    dup2(kept, STDOUT_FILENO);
    close(kept);
    fclose(file);
    tarvel_options = {};
    command_line_port = nullptr;
    return path;
  }
  // What Python makes of the file: the expression's value as JSON.
  std::string parsed(const std::string &path, const char *expression) {
    std::string command = std::string(
                              "python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); "
                              "print(json.dumps(") +
                          expression + ", sort_keys=True))' " + path + " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
    return out;
  }
};

TEST_F(JsonReport, EveryRecordSaysWhatHappened) {
  std::string path = document(1, [] {
    json_cv_read(5, 1, 251);
    json_cv_read(6, 0, -1);
    json_cv_backed_up(7, 0, 3);
    json_cv_compared(8, 1, 4, 4);
    json_cv_compared(8, 0, 4, 5);
    json_cv_compared(9, 0, 4, -1);
    json_cv_written(10, 0, 300, JSON_WRITTEN);
    json_cv_written(11, 1, 1, JSON_CONFIRMED);
    json_cv_written(12, 0, 2, JSON_UNCONFIRMED);
    json_cv_written(13, 0, 3, JSON_WRITE_FAILED);
  });
  std::string out = read_text(path);
  EXPECT_EQ(out.find("a message"), std::string::npos) << out;
  EXPECT_EQ(
      parsed(path, "[[c[k] for k in (\"name\", \"action\", \"outcome\")] for c in d[\"cvs\"]]"),
      "[[\"5a\", \"read\", \"read\"], [\"6\", \"read\", \"read_failed\"], "
      "[\"7\", \"backup\", \"read\"], [\"8a\", \"compare\", \"same\"], "
      "[\"8\", \"compare\", \"differs\"], [\"9\", \"compare\", \"read_failed\"], "
      "[\"10\", \"write\", \"written\"], [\"11a\", \"write\", \"confirmed\"], "
      "[\"12\", \"write\", \"unconfirmed\"], [\"13\", \"write\", \"write_failed\"]]\n");
  EXPECT_EQ(parsed(path, "[c.get(\"value\", \"-\") for c in d[\"cvs\"]]"),
            "[251, null, 3, 4, 5, null, \"-\", \"-\", \"-\", \"-\"]\n");
  EXPECT_EQ(parsed(path, "[c.get(\"file_value\", c.get(\"written_value\")) for c in d[\"cvs\"]]"),
            "[null, null, null, 4, 4, 4, 44, 1, 2, 3]\n");
  EXPECT_EQ(parsed(path, "[d[\"exit_code\"], d[\"job\"], d[\"counts\"][\"cvs_backed_up\"]]"),
            "[1, {\"backup\": null, \"cvs\": null, \"file\": \"c.txt\", \"name\": \"compare\", "
            "\"verify\": false}, 1]\n");
}

TEST_F(JsonReport, EveryLineCheckIsKept) {
  std::string path = document(0, [] {
    LineMeasure silent = {LINE_SILENT, 0, 0, 0, 0, 0};
    LineMeasure slow = {LINE_SERVES, 32, 9000, 16500, 1000, 0};
    json_line_check(&silent);
    json_line_check(&slow);
  });
  EXPECT_EQ(parsed(path,
                   "[[c[\"verdict\"], c[\"answers\"], c[\"median_us\"], c[\"max_us\"], "
                   "c[\"min_us\"], c[\"ideal\"]] for c in d[\"line_checks\"]]"),
            "[[\"silent\", 0, 0, 0, 0, false], [\"serves\", 32, 9000, 16500, 1000, false]]\n");
}

// Without --json nothing is recorded and nothing printed.
TEST_F(JsonReport, WithoutJsonNothing) {
  tarvel_options = {};
  EXPECT_EQ(json_output_begin(), 0);
  json_cv_read(1, 0, 3);
  testing::internal::CaptureStdout();
  EXPECT_EQ(json_finish(2), 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace

// Files for the tests: a whole file as text, a file written in one go, a
// fresh folder of the test's own. The same on both builds.
#pragma once

#include <string>

// The file's bytes; empty when it cannot be read.
std::string read_text(const std::string &path);

// Writes text as the whole file; fails the running test when it cannot.
void write_text(const std::string &path, const std::string &text);

bool file_exists(const std::string &path);

// A fresh, empty folder named after prefix (so that a leftover tells which test
// left it): /tmp/PREFIX_XXXXXX on POSIX, under the temporary folder on Windows.
// Empty, with the test failed, when none can be made.
std::string make_temp_dir(const std::string &prefix);

// Removes path and everything in it; no complaint when it is gone already.
void remove_tree(const std::string &path);

#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

std::string read_text(const std::string &path) {
  std::string text;
  FILE *file = fopen(path.c_str(), "rb");
  if (file == nullptr) return text;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  fclose(file);
  return text;
}

void write_text(const std::string &path, const std::string &text) {
  FILE *file = fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  fwrite(text.data(), 1, text.size(), file);
  fclose(file);
}

bool file_exists(const std::string &path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

#ifdef _WIN32
// MinGW has no mkdtemp: a random name, tried until one is new.
std::string make_temp_dir(const std::string &prefix) {
  std::filesystem::path base = std::filesystem::temp_directory_path();
  std::random_device random;
  for (int attempt = 0; attempt < 100; attempt++) {
    std::filesystem::path dir = base / (prefix + "_" + std::to_string(random() % 1000000000u));
    std::error_code error;
    if (std::filesystem::create_directory(dir, error)) return dir.generic_string();
  }
  ADD_FAILURE() << "no temporary folder in " << base;
  return std::string();
}
#else
std::string make_temp_dir(const std::string &prefix) {
  std::string name = "/tmp/" + prefix + "_XXXXXX";
  if (mkdtemp(&name[0]) != nullptr) return name;
  ADD_FAILURE() << "no temporary folder " << name;
  return std::string();
}
#endif

void remove_tree(const std::string &path) {
  std::error_code error;
  std::filesystem::remove_all(path, error);
}

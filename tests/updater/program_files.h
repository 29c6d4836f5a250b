// Program files for the tests: records, whole files, and the flash image a
// receiver should hold after them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/support/files.h"

using Bytes = std::vector<uint8_t>;

// A page record: 'u', the page number, the page (fill, fill + 1, ...).
inline Bytes page_record(int page_number, int size, int fill) {
  Bytes record = {'u', (uint8_t)page_number};
  for (int i = 0; i < size; i++) record.push_back((uint8_t)(fill + i * 7));
  return record;
}

inline Bytes join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes &part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

inline bool write_file(const std::string &path, const Bytes &bytes) {
  FILE *file = fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && ok;
}

inline Bytes read_file(const std::string &path) {
  std::string text = read_text(path);
  return Bytes(text.begin(), text.end());
}

// The flash image after the page records of records (erased bytes 0xFF),
// placed by their page numbers.
inline Bytes flash_image(const Bytes &records, int page_size) {
  Bytes flash;
  for (size_t at = 0; at < records.size();) {
    uint8_t lead = records[at++];
    if (lead != 'u') continue;
    size_t offset = records[at] * (size_t)page_size;
    if (flash.size() < offset + page_size) flash.resize(offset + page_size, 0xFF);
    for (int i = 0; i < page_size; i++) flash[offset + i] = records[at + 1 + i];
    at += 1 + page_size;
  }
  return flash;
}

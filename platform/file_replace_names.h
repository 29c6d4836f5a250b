// The names a replacement file works with (see file_replace.h), kept where a
// signal or console handler can reach them without allocating. Each platform
// sizes them for its own longest path. Internal to platform/.
#pragma once

#include <cstddef>

template <size_t NAME_SIZE>
struct ReplacementNames {
  static const size_t size = NAME_SIZE;
  char target[NAME_SIZE];     // what the new file replaces
  char temporary[NAME_SIZE];  // the new file beside it
  char partial[NAME_SIZE];    // where the whole lines go when the job cannot finish
  char kept_message[2 * NAME_SIZE];
};

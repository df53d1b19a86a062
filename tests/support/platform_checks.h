// Checks of the system layer that hold on every system. Each system's tests make their own
// objects (a pipe, a file) and hand them here, so both layers answer to the same expectations.
#ifndef DORVEX_TESTS_PLATFORM_CHECKS_H
#define DORVEX_TESTS_PLATFORM_CHECKS_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform.h"

namespace testing_support {

// A pipe that holds "abcdef": once its stream has read a byte it cannot go back, what the
// stream read stays there to be copied, and it has no size.
inline void expect_pipe_cannot_rewind(std::FILE* pipe) {
  ASSERT_NE(pipe, nullptr);
  EXPECT_EQ(std::fgetc(pipe), 'a');
  EXPECT_EQ(dorvex::rewind_input(pipe), dorvex::Rewind::pipe);
  char rest[8] = {};
  EXPECT_EQ(std::fread(rest, 1, sizeof rest, pipe), 5u);
  EXPECT_STREQ(rest, "bcdef");
  std::uint64_t size = 1;
  EXPECT_FALSE(dorvex::regular_file_size(pipe, &size));
  std::fclose(pipe);
}

// Writes "abc" into a new temporary file and grows it to 8 bytes: the size says so. The file
// is left open, for the system's own checks.
inline std::FILE* temp_file_grown_with_zeros() {
  std::FILE* f = dorvex::open_temp_file();
  EXPECT_NE(f, nullptr);
  if (!f) return nullptr;
  EXPECT_EQ(std::fwrite("abc", 1, 3, f), 3u);
  EXPECT_EQ(std::fflush(f), 0);
  EXPECT_TRUE(dorvex::set_file_length(f, 8));
  std::uint64_t size = 0;
  EXPECT_TRUE(dorvex::regular_file_size(f, &size));
  EXPECT_EQ(size, 8u);
  return f;
}

}  // namespace testing_support

#endif  // DORVEX_TESTS_PLATFORM_CHECKS_H

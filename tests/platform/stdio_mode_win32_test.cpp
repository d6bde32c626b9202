#include "platform/stdio_mode.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

TEST(StdioModeWin32, BinaryWhileSetThenTheOldModeAgain) {
  char name[L_tmpnam];
  ASSERT_NE(std::tmpnam(name), nullptr);
  const int fd = _open(name, _O_CREAT | _O_TRUNC | _O_WRONLY | _O_TEXT, _S_IREAD | _S_IWRITE);
  ASSERT_GE(fd, 0);
  _write(fd, "a\n", 2);
  const int previous = platform::SetBinaryMode(fd);
  EXPECT_EQ(previous, _O_TEXT);
  _write(fd, "b\n", 2);
  platform::RestoreMode(fd, previous);
  _write(fd, "c\n", 2);
  _close(fd);

  std::ifstream file(name, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  file.close();
  std::remove(name);
  EXPECT_EQ(bytes, "a\r\nb\nc\r\n");
}

}  // namespace

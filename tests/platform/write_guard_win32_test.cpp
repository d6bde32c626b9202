#include "platform/write_guard.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "smtp/smtp_client.h"

namespace {

bool CanOpenForWriting(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
}

// While guarded, the file can be read (by the program's own reads too) but
// not opened for writing; once released, writers may come in again.
TEST(WriteGuardWin32, KeepsWritersOutWhileHeld) {
  char name[L_tmpnam];
  ASSERT_NE(std::tmpnam(name), nullptr);
  std::ofstream(name, std::ios::binary) << "bytes";
  {
    std::unique_ptr<platform::CWriteGuard> guard = platform::GuardAgainstWriters(name);
    ASSERT_NE(guard, nullptr);
    EXPECT_FALSE(CanOpenForWriting(name));
    std::FILE* reader = std::fopen(name, "rb");
    ASSERT_NE(reader, nullptr);
    std::fclose(reader);
  }
  EXPECT_TRUE(CanOpenForWriting(name));
  std::remove(name);
}

// A file part keeps writers out from its first reading until it is gone.
TEST(WriteGuardWin32, HeldByAFilePart) {
  char name[L_tmpnam];
  ASSERT_NE(std::tmpnam(name), nullptr);
  std::ofstream(name, std::ios::binary) << "bytes";
  {
    CSmtpClient client(true);
    ASSERT_TRUE(client.AddPart(name, true, "", false));
    EXPECT_FALSE(CanOpenForWriting(name));
    client.m_parts.clear();
    EXPECT_TRUE(CanOpenForWriting(name));
  }
  std::remove(name);
}

// A file a writer already has open is not guarded (it is read as it is),
// nor is one that does not exist.
TEST(WriteGuardWin32, NoGuardOverAWriterOrAMissingFile) {
  char name[L_tmpnam];
  ASSERT_NE(std::tmpnam(name), nullptr);
  {
    std::ofstream writer(name, std::ios::binary);
    writer << "still being written";
    writer.flush();
    EXPECT_EQ(platform::GuardAgainstWriters(name), nullptr);
  }
  std::remove(name);
  EXPECT_EQ(platform::GuardAgainstWriters(name), nullptr);
}

}  // namespace

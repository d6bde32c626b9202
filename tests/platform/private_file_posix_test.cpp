#include "platform/private_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

TEST(PrivateFilePosix, OwnerOnlyEvenUnderAnOpenUmask) {
  fs::path dir = fs::temp_directory_path() / ("velsend-private-" + std::to_string(getpid()));
  fs::remove_all(dir);
  mode_t old = umask(0);
  std::string error;
  std::string path = (dir / "a" / "t.token").string();
  bool written = platform::ReplacePrivateFile(path, "one", error);
  umask(old);
  ASSERT_TRUE(written) << error;
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(stat((dir / "a").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  // Replacing gives a new inode: a reader holding the old file sees it whole.
  ino_t first = info.st_ino;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  first = info.st_ino;
  ASSERT_TRUE(platform::ReplacePrivateFile(path, "two", error));
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_NE(info.st_ino, first);
  std::string content;
  EXPECT_EQ(platform::ReadPrivateFile(path, content), platform::PrivateRead::Ok);
  EXPECT_EQ(content, "two");
  EXPECT_EQ(platform::ReadPrivateFile((dir / "none").string(), content),
            platform::PrivateRead::Missing);
  fs::remove_all(dir);
}

TEST(PrivateFilePosix, LockIsExclusiveBetweenHolders) {
  fs::path dir = fs::temp_directory_path() / ("velsend-lock-" + std::to_string(getpid()));
  std::string path = (dir / "t.token").string();
  {
    platform::CPrivateFileLock first;
    ASSERT_TRUE(first.Acquire(path, 1000));
    platform::CPrivateFileLock second;
    EXPECT_FALSE(second.Acquire(path, 200));
  }
  platform::CPrivateFileLock third;
  EXPECT_TRUE(third.Acquire(path, 200));
  fs::remove_all(dir);
}

}  // namespace

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "app/account_settings.h"
#include "app/accounts_file.h"
#include "app/switches.h"

namespace {

void Write(const std::string& path, const std::string& text, mode_t mode) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs(text.c_str(), file);
  std::fclose(file);
  ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

TEST(AccountsFilePermissions, PasswordOnlyInAFileOfTheOwnerAlone) {
  const std::string path = testing::TempDir() + "accounts-permissions";
  struct Case {
    const char* text;
    mode_t mode;
    bool refused;
  } cases[] = {
      // The password of an account the run does not use still counts.
      {"[account a]\nhost = h\n[account b]\npassword = hunter2\n", 0644, true},
      {"[account a]\nhost = h\n[account b]\npassword = hunter2\n", 0640, true},
      {"[account a]\nhost = h\n[account b]\npassword = hunter2\n", 0620, true},
      {"[account a]\nhost = h\n[account b]\npassword = hunter2\n", 0600, false},
      {"[account a]\nhost = h\n[account b]\npassword = hunter2\n", 0400, false},
      // Without a password, the file may be anyone's to read.
      {"[account a]\nhost = h\npassword-file = /run/pw\n", 0644, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.mode));
    Write(path, c.text, c.mode);
    CSwitchCommandLineInfo commandLine("-");
    commandLine.ParseParam("--account=a");
    commandLine.ParseParam("--config=" + path);
    CAccountSettings settings;
    std::string fault;
    EXPECT_EQ(settings.Resolve(commandLine, std::string(), fault), !c.refused);
    if (c.refused) {
      EXPECT_EQ(fault, path + ":4: a password key in a file other users can read or change\n"
                              "Make it private (chmod 600 " + path +
                           "), or use password-file or password-command");
      EXPECT_EQ(fault.find("hunter2"), std::string::npos);
    }
  }
  std::remove(path.c_str());
}

TEST(AccountsFilePermissions, UnreadableFile) {
  const std::string missing = testing::TempDir() + "no-such-accounts-file";
  SAccountsFile file;
  std::string fault;
  EXPECT_FALSE(LoadAccountsFile(missing, file, fault));
  EXPECT_EQ(fault, "Cannot read " + missing + ": No such file or directory");
  EXPECT_FALSE(LoadAccountsFile(testing::TempDir(), file, fault));
  EXPECT_EQ(fault, "Cannot read " + testing::TempDir() + ": it is a directory");
}

}  // namespace

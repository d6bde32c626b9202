#include "platform/code_page.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include <unistd.h>

namespace {

TEST(CodePageForCodeSet, NamesOfTheSameCharacterSet) {
  struct Case {
    const char* codeSet;
    unsigned codePage;
  } cases[] = {
      {"UTF-8", 65001},          {"utf8", 65001},       {"Utf_8", 65001},
      {"ANSI_X3.4-1968", 65001},  // the C locale: most likely UTF-8 text
      {"ISO-8859-1", 1252},      {"iso8859-2", 28592},  {"ISO_8859-4", 28594},
      {"ISO-8859-5", 28595},     {"ISO-8859-7", 28597}, {"ISO-8859-8", 28598},
      {"ISO-8859-9", 28599},     {"KOI8-R", 20866},     {"EUC-JP", 51932},
      {"SHIFT_JIS", 932},        {"GB2312", 936},       {"BIG5", 950},
      {"EUC-KR", 949},           {"CP1250", 1250},      {"CP1255", 1255},
      {"CP1258", 1258},
      {"", 0},                   {"EBCDIC-US", 0},      {"UTF-16", 0},
      {"ISO-8859-1X", 0},        {"ISO-8859", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::CodePageForCodeSet(c.codeSet), c.codePage) << c.codeSet;
  }
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (m_old) {
      setenv(m_name, m_old->c_str(), 1);
    } else {
      unsetenv(m_name);
    }
  }

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

TEST(DefaultCodePage, ReadsTheUsersLocaleAndRestoresTheProcessOne) {
  const std::string process = std::setlocale(LC_CTYPE, "C.UTF-8") ? "C.UTF-8" : "C";
  {
    ScopedEnv all("LC_ALL", "C");
    EXPECT_EQ(platform::DefaultCodePage(), 65001u);
    EXPECT_EQ(platform::LocaleCodeSet(), "ANSI_X3.4-1968");
  }
  EXPECT_EQ(std::string(std::setlocale(LC_CTYPE, nullptr)), process);

  // A Latin-2 locale, compiled for this test where the system can do it.
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("velsend-locale-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string command = "localedef -i cs_CZ -f ISO-8859-2 '" + dir.string() +
                              "/cs_CZ.ISO-8859-2' >/dev/null 2>&1";
  const bool built = std::system(command.c_str()) == 0;
  if (built) {
    ScopedEnv path("LOCPATH", dir.string());
    ScopedEnv all("LC_ALL", "cs_CZ.ISO-8859-2");
    EXPECT_EQ(platform::DefaultCodePage(), 28592u);
    EXPECT_EQ(platform::LocaleCodeSet(), "ISO-8859-2");
  }
  std::filesystem::remove_all(dir);
  EXPECT_EQ(std::string(std::setlocale(LC_CTYPE, nullptr)), process);
  std::setlocale(LC_CTYPE, "C");
  if (!built) GTEST_SKIP() << "localedef could not build an ISO-8859-2 locale";
}

}  // namespace

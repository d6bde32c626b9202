#include "platform/content_type.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace {

const std::string kFixture = VELSEND_TEST_DATA_DIR "/mime.types";

TEST(RegisteredContentType, FromTable) {
  struct Case {
    const char* extension;
    const char* type;
  } cases[] = {
      {".txt", "text/plain"},
      {".TxT", "text/plain"},
      {".text", "text/plain"},      // listed in upper case
      {".html", "text/html"},       // blank-separated, not tab
      {".dxr", "application/x-director"},
      {".sh", "application/x-sh"},  // the first of two types wins
      {".png", "image/PNG"},        // the type as the table writes it
      {".cmt", "application/x-commented"},
      {".xyz", ""},                 // only in a trailing comment
      {".csv", ""},                 // only on a comment line
      {".pdf", ""},                 // the built-in table does not mix in
      {".dir\\README", ""},
      {".dir/README", ""},
      {".", ""},
      {"txt", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::RegisteredContentType(c.extension, kFixture), c.type) << c.extension;
  }
}

TEST(RegisteredContentType, MissingTableFallsBackToBuiltIn) {
  const std::string missing = VELSEND_TEST_DATA_DIR "/no-such-dir/mime.types";
  struct Case {
    const char* extension;
    const char* type;
  } cases[] = {
      {".txt", "text/plain"}, {".HTML", "text/html"},   {".pdf", "application/pdf"},
      {".jpg", "image/jpeg"}, {".JPEG", "image/jpeg"},  {".json", "application/json"},
      {".bin", ""},           {".sh", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::RegisteredContentType(c.extension, missing), c.type) << c.extension;
  }
}

TEST(RegisteredContentType, TableIsReadOncePerProcess) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("velsend-types-" + std::to_string(::getpid()));
  { std::ofstream(path) << "text/x-first\tone\n"; }
  EXPECT_EQ(platform::RegisteredContentType(".one", path.string()), "text/x-first");
  { std::ofstream(path) << "text/x-second\tone two\n"; }
  EXPECT_EQ(platform::RegisteredContentType(".one", path.string()), "text/x-first");
  EXPECT_EQ(platform::RegisteredContentType(".two", path.string()), "");
  std::filesystem::remove(path);
}

}  // namespace

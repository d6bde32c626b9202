#include "mime/content_type_table.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

const std::string kFixture = VELSEND_TEST_DATA_DIR "/mime.types";

std::string FixtureText() {
  std::ifstream file(kFixture, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

struct Case {
  const char* extension;
  const char* type;
};

TEST(ContentTypeTable, ParsesTheMimeTypesForm) {
  const ContentTypeTable table = ParseContentTypeTable(FixtureText() + "text/x-crlf\tcrlf\r\n");
  const Case cases[] = {
      {".txt", "text/plain"},
      {".TxT", "text/plain"},
      {".text", "text/plain"},      // listed in upper case
      {".html", "text/html"},       // blank-separated, not tab
      {".dxr", "application/x-director"},
      {".sh", "application/x-sh"},  // the first of two types wins
      {".png", "image/PNG"},        // the type as the table writes it
      {".cmt", "application/x-commented"},
      {".crlf", "text/x-crlf"},     // a CR before the line end is no part of the name
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
    EXPECT_EQ(FindContentType(table, c.extension), c.type) << c.extension;
  }
  EXPECT_TRUE(ParseContentTypeTable("").empty());
  EXPECT_TRUE(ParseContentTypeTable("# only a comment\n\n   \napplication/none\n").empty());
}

TEST(RegisteredContentType, FromTheTableFile) {
  const Case cases[] = {
      {".TXT", "text/plain"},
      {".sh", "application/x-sh"},
      {".bin", "application/octet-stream"},
      {".pdf", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RegisteredContentType(c.extension, kFixture), c.type) << c.extension;
  }
}

TEST(RegisteredContentType, MissingTableFallsBackToBuiltIn) {
  const std::string missing = VELSEND_TEST_DATA_DIR "/no-such-dir/mime.types";
  const Case cases[] = {
      {".txt", "text/plain"}, {".HTML", "text/html"},   {".pdf", "application/pdf"},
      {".jpg", "image/jpeg"}, {".JPEG", "image/jpeg"},  {".json", "application/json"},
      {".bin", ""},           {".sh", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RegisteredContentType(c.extension, missing), c.type) << c.extension;
  }
}

TEST(RegisteredContentType, TableIsReadOncePerProcess) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() /
      ("velsend-types-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  { std::ofstream(path) << "text/x-first\tone\n"; }
  EXPECT_EQ(RegisteredContentType(".one", path.string()), "text/x-first");
  { std::ofstream(path) << "text/x-second\tone two\n"; }
  EXPECT_EQ(RegisteredContentType(".one", path.string()), "text/x-first");
  EXPECT_EQ(RegisteredContentType(".two", path.string()), "");
  std::filesystem::remove(path);
}

}  // namespace

#include <gtest/gtest.h>

#include <string>

#include "mime/extra_headers.h"
#include "mime/header_fields.h"

namespace {

TEST(ExtraHeaders, NamesAndValuesChecked) {
  using E = EExtraFieldCheck;
  struct Case {
    std::string typed;
    E check;
    std::string name, value;
  } cases[] = {
      {"X-Tag: build 42", E::kValid, "X-Tag", "build 42"},
      {"X-Tag:build", E::kValid, "X-Tag", "build"},
      {"X-Empty:", E::kValid, "X-Empty", ""},
      {"X-Tab: a\tb", E::kValid, "X-Tab", "a\tb"},
      {"List-Unsubscribe: <mailto:u@ex.org>", E::kValid, "List-Unsubscribe", "<mailto:u@ex.org>"},
      {"X-Umlaut: gr\xC3\xBC\xC3\x9F", E::kValid, "X-Umlaut", "gr\xC3\xBC\xC3\x9F"},
      {"X-Colon: a: b", E::kValid, "X-Colon", "a: b"},
      {"no colon", E::kInvalid, "", ""},
      {": no name", E::kInvalid, "", ""},
      {"X Tag: blank in the name", E::kInvalid, "", ""},
      {"X-Tag : blank before the colon", E::kInvalid, "", ""},
      {"X-\xC3\xBC: not ASCII", E::kInvalid, "", ""},
      {"X-Tag: a\r\nBcc: eve@ex.org", E::kInvalid, "", ""},
      {"X-Tag: a\nb", E::kInvalid, "", ""},
      {"X-Tag: a\rb", E::kInvalid, "", ""},
      {std::string("X-Tag: a\0b", 10), E::kInvalid, "", ""},
      {"X-Tag: bell\x07", E::kInvalid, "", ""},
      {"X-Tag: del\x7F", E::kInvalid, "", ""},
      {std::string(77, 'X') + ": v", E::kInvalid, "", ""},
  };
  for (const Case& c : cases) {
    SExtraField field;
    EXPECT_EQ(ParseExtraField(c.typed, field), c.check) << ShownFieldText(c.typed);
    EXPECT_EQ(field.name, c.name) << ShownFieldText(c.typed);
    EXPECT_EQ(field.value, c.value) << ShownFieldText(c.typed);
  }
}

TEST(ExtraHeaders, FieldsTheProgramWritesAreRefused) {
  for (const char* typed :
       {"From: x", "to: x", "CC: x", "Bcc: x", "Reply-To: x", "subject: x", "Date: x",
        "Message-ID: x", "MIME-Version: 1.0", "Content-Type: text/html", "content-id: <x>",
        "Content-Transfer-Encoding: 8bit", "X-Mailer: other"}) {
    SExtraField field;
    EXPECT_EQ(ParseExtraField(typed, field), EExtraFieldCheck::kReserved) << typed;
  }
  SExtraField field;
  EXPECT_EQ(ParseExtraField("X-Mailer-Extra: ok", field), EExtraFieldCheck::kValid);
  EXPECT_EQ(ParseExtraField("Contents: ok", field), EExtraFieldCheck::kValid);
}

TEST(ExtraHeaders, ShownOnOneLine) {
  EXPECT_EQ(ShownFieldText(std::string("a\r\nb\tc\0d\x01", 9)), "a\\r\\nb\\tc\\0d\\x01");
  EXPECT_EQ(ShownFieldText("X-Ok: caf\xC3\xA9"), "X-Ok: caf\xC3\xA9");
}

}  // namespace

#include "smtp/auth_mechanisms.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(AuthMechanisms, NamesInAnyCase) {
  for (int m = kAuthPlain; m <= kAuthOauthBearer; ++m) {
    std::string lower = AuthMechanismName(m);
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    EXPECT_EQ(AuthMechanismFromName(AuthMechanismName(m)), m);
    EXPECT_EQ(AuthMechanismFromName(lower), m) << lower;
  }
  for (const char* other : {"", "DIGEST-MD5", "CRAM-MD5 ", "XOAUTH", "SCRAM-SHA-256"}) {
    EXPECT_EQ(AuthMechanismFromName(other), kAuthUnset) << other;
  }
}

TEST(AuthMechanisms, ChoiceAmongWhatTheRelayOffers) {
  struct Case {
    const char* offered;
    int requested;
    int chosen;
  } cases[] = {
      {"LOGIN PLAIN CRAM-MD5", kAuthUnset, kAuthPlain},
      {"CRAM-MD5 LOGIN", kAuthUnset, kAuthLogin},
      {"XOAUTH2 CRAM-MD5", kAuthUnset, kAuthCramMd5},
      {"login", kAuthUnset, kAuthLogin},              // names in any case
      {"  PLAIN   ", kAuthUnset, kAuthPlain},         // blanks around
      {"XOAUTH2 OAUTHBEARER", kAuthUnset, kAuthUnset},  // a password is no token
      {"PLAINX LOGINS", kAuthUnset, kAuthUnset},      // whole names only
      {"", kAuthUnset, kAuthUnset},
      {"PLAIN LOGIN", kAuthLogin, kAuthLogin},        // -m wins over preference
      {"LOGIN XOAUTH2", kAuthXoauth2, kAuthXoauth2},
      {"PLAIN LOGIN", kAuthCramMd5, kAuthUnset},      // -m never falls back
      {"OAUTHBEARER", kAuthXoauth2, kAuthUnset},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseAuthMechanism(c.offered, c.requested), c.chosen)
        << "'" << c.offered << "' requested " << c.requested;
  }
}

TEST(AuthMechanisms, ShownMechanisms) {
  EXPECT_EQ(ShownMechanisms("  LOGIN   XOAUTH2 "), "LOGIN XOAUTH2");
  EXPECT_EQ(ShownMechanisms("PLAIN\x1b[2J"), "PLAIN?[2J");
  EXPECT_EQ(ShownMechanisms(""), "");
  const std::string flood = ShownMechanisms(std::string(5000, 'A'));
  EXPECT_EQ(flood, std::string(200, 'A') + "...");
}

TEST(AuthMechanisms, ClientStrings) {
  EXPECT_EQ(PlainCredential("ann", "pw"), std::string("\0ann\0pw", 7));
  EXPECT_EQ(Xoauth2Credential("ann@example.org", "ya29.tok"),
            "user=ann@example.org\x01" "auth=Bearer ya29.tok\x01\x01");
  EXPECT_EQ(OauthBearerCredential("ann@example.org", "smtp.example.org", 587, "tok"),
            "n,a=ann@example.org,\x01" "host=smtp.example.org\x01" "port=587\x01"
            "auth=Bearer tok\x01\x01");
  // The GS2 name escapes its separators; an unknown port is left out.
  EXPECT_EQ(OauthBearerCredential("a,b=c", "h", 0, "t"),
            "n,a=a=2Cb=3Dc,\x01" "host=h\x01" "auth=Bearer t\x01\x01");
}

TEST(AuthMechanisms, CramMd5Response) {
  // The example exchange of RFC 2195.
  EXPECT_EQ(CramMd5Response("tim", "tanstaaftanstaaf",
                            "<1896.697170952@postoffice.reston.mci.net>"),
            "tim b913a602c7eda7a495b4e6e7334d3890");
}

}  // namespace

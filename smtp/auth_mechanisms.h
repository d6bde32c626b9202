// The SASL mechanisms of AUTH: their names, the choice among those a relay
// offers, and the client's strings for each (before base64).
#pragma once

#include <string>
#include <string_view>

enum AuthMechanism {
  kAuthUnset = 0,  // -m not given
  kAuthPlain = 1,
  kAuthLogin = 2,
  kAuthCramMd5 = 3,
  kAuthXoauth2 = 4,
  kAuthOauthBearer = 5,
};

// "PLAIN", "LOGIN", "CRAM-MD5", "XOAUTH2", "OAUTHBEARER"; "" for kAuthUnset.
const char* AuthMechanismName(int mechanism);
// The mechanism a name stands for in any letter case; kAuthUnset for any
// other word.
int AuthMechanismFromName(std::string_view name);

// Whether the parameters of an AUTH keyword ("PLAIN LOGIN") list mechanism,
// compared without regard to case.
bool OffersMechanism(std::string_view offered, int mechanism);
// The mechanism to use with the parameters of a relay's AUTH keyword: the
// requested one when given, else PLAIN, LOGIN, CRAM-MD5 in this order of
// preference. kAuthUnset when the relay offers none of them.
int ChooseAuthMechanism(std::string_view offered, int requested);
// The mechanism names of an AUTH keyword as a line can show them: single
// blanks between names, no control bytes, no flood.
std::string ShownMechanisms(std::string_view offered);

// PLAIN (RFC 4616) without an authorisation identity: NUL user NUL password.
std::string PlainCredential(const std::string& user, const std::string& password);
// CRAM-MD5 (RFC 2195): the user, a blank, and the HMAC-MD5 of the decoded
// challenge under the password in lower-case hex. Empty when the digest
// could not be made.
std::string CramMd5Response(const std::string& user, const std::string& password,
                            std::string_view challenge);
// XOAUTH2, the Google and Microsoft form.
std::string Xoauth2Credential(const std::string& user, const std::string& token);
// OAUTHBEARER (RFC 7628); port 0 leaves the port out.
std::string OauthBearerCredential(const std::string& user, const std::string& host,
                                  unsigned port, const std::string& token);

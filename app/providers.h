// Mail services by name (--provider, the "provider" key): the relay, port,
// TLS mode and user convention each documents, so that a user names the
// service instead of spelling out (and mismatching) six switches.
#pragma once

#include <string>

enum class EProviderTls { kStartTls, kImplicitTls };

struct SProvider {
  const char* name;       // as given; "ses" takes a region: "ses:REGION"
  const char* host;       // "{region}" stands for the region of "ses:REGION"
  long port;
  EProviderTls tls;
  const char* user;       // the user name every account shares; nullptr: the account's own
  const char* userNote;   // the user convention, as --providers shows it
  const char* limits;     // the published limits per message; "-" when none are
};
// The OAuth 2.0 endpoints and scopes of m365, outlook and gmail live with the
// token flows: oauth/oauth_config.cpp.

// Every provider, in the order --providers lists them; ends with a nullptr name.
const SProvider* ProviderTable();

// The settings for value ("gmail", "ses:eu-west-1"): the row, with host
// filled in. False for an unknown name or a region that is missing or
// malformed.
bool FindProvider(const std::string& value, SProvider& row, std::string& host);

// "m365, outlook, ..., zoho-eu": the names an unknown one is refused with.
std::string ProviderNames();

// The table as --providers prints it, one provider a line under a heading.
std::string ProviderTableText();

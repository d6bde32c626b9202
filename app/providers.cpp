#include "app/providers.h"

namespace {

using T = EProviderTls;
constexpr SProvider kProviders[] = {
    {"m365", "smtp.office365.com", 587, T::kStartTls, nullptr, "the full address",
     "35 MB by default (150 MB at most); 500 recipients"},
    {"outlook", "smtp.office365.com", 587, T::kStartTls, nullptr, "the full address",
     "20 MB; 100 recipients"},
    {"gmail", "smtp.gmail.com", 465, T::kImplicitTls, nullptr,
     "the full address (app password or OAuth)", "25 MB; 100 recipients"},
    {"ses:REGION", "email-smtp.{region}.amazonaws.com", 587, T::kStartTls, nullptr,
     "the SMTP credentials' user name", "40 MB; 50 recipients"},
    {"sendgrid", "smtp.sendgrid.net", 587, T::kStartTls, "apikey",
     "apikey (the API key as password)", "30 MB; 1000 recipients"},
    {"mailgun", "smtp.mailgun.org", 587, T::kStartTls, nullptr,
     "the domain's SMTP login (postmaster@DOMAIN)", "25 MB; 1000 recipients"},
    {"postmark", "smtp.postmarkapp.com", 587, T::kStartTls, nullptr,
     "the server API token (also the password)", "10 MB; 50 recipients"},
    {"fastmail", "smtp.fastmail.com", 465, T::kImplicitTls, nullptr,
     "the full address (app password)", "-"},
    {"zoho", "smtp.zoho.com", 465, T::kImplicitTls, nullptr, "the full address", "-"},
    {"zoho-eu", "smtp.zoho.eu", 465, T::kImplicitTls, nullptr, "the full address", "-"},
    {nullptr, nullptr, 0, T::kStartTls, nullptr, nullptr, nullptr},
};

// An AWS region: lower-case labels of letters and digits joined by hyphens
// ("eu-west-1"); it becomes part of a host name.
bool IsRegion(const std::string& region) {
  if (region.empty() || region.size() > 30 || region.front() == '-' || region.back() == '-') {
    return false;
  }
  for (char c : region) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
  }
  return region.find("--") == std::string::npos;
}

}  // namespace

const SProvider* ProviderTable() { return kProviders; }

bool FindProvider(const std::string& value, SProvider& row, std::string& host) {
  const size_t colon = value.find(':');
  const std::string name = value.substr(0, colon);
  for (const SProvider* p = kProviders; p->name; ++p) {
    const std::string rowName(p->name);
    const size_t rowColon = rowName.find(':');
    if (rowName.substr(0, rowColon) != name) continue;
    // A region exactly where the row takes one.
    if ((rowColon == std::string::npos) != (colon == std::string::npos)) return false;
    row = *p;
    host = p->host;
    if (colon != std::string::npos) {
      const std::string region = value.substr(colon + 1);
      if (!IsRegion(region)) return false;
      host.replace(host.find("{region}"), 8, region);
    }
    return true;
  }
  return false;
}

std::string ProviderNames() {
  std::string names;
  for (const SProvider* p = kProviders; p->name; ++p) {
    if (!names.empty()) names += ", ";
    names += p->name;
  }
  return names;
}

namespace {

std::string Pad(std::string text, size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text + ' ';
}

}  // namespace

std::string ProviderTableText() {
  std::string text = Pad("Provider", 11) + Pad("Relay", 34) + Pad("Port", 5) +
                     Pad("TLS", 9) + Pad("User", 44) + "Limits per message\n";
  for (const SProvider* p = kProviders; p->name; ++p) {
    text += Pad(p->name, 11) + Pad(p->host, 34) + Pad(std::to_string(p->port), 5) +
            Pad(p->tls == EProviderTls::kStartTls ? "STARTTLS" : "TLS", 9) +
            Pad(p->userNote, 44) + p->limits + "\n";
  }
  return text;
}

#include "oauth/oauth_config.h"

#include <utility>

bool ParseOAuthFlow(const std::string& word, OAuthFlow& flow) {
  if (word == "device") {
    flow = OAuthFlow::Device;
  } else if (word == "browser") {
    flow = OAuthFlow::Browser;
  } else if (word == "client-credentials") {
    flow = OAuthFlow::ClientCredentials;
  } else {
    return false;
  }
  return true;
}

namespace {

void Default(std::string& value, const std::string& fallback) {
  if (value.empty()) value = fallback;
}

}  // namespace

bool CompleteOAuthConfig(const std::string& provider, const std::string& stateDirectory,
                         OAuthConfig& config, std::string& error) {
  if (provider == "m365" || provider == "outlook") {
    // Outlook.com accounts sign in through the "consumers" tenant.
    Default(config.tenant, provider == "outlook" ? "consumers" : "organizations");
    const std::string base = "https://login.microsoftonline.com/" + config.tenant + "/oauth2/v2.0/";
    Default(config.authorizeUrl, base + "authorize");
    Default(config.tokenUrl, base + "token");
    Default(config.deviceUrl, base + "devicecode");
    Default(config.scope, config.flow == OAuthFlow::ClientCredentials
                              ? "https://outlook.office365.com/.default"
                              : "https://outlook.office.com/SMTP.Send offline_access");
  } else if (provider == "gmail") {
    Default(config.authorizeUrl, "https://accounts.google.com/o/oauth2/v2/auth");
    Default(config.tokenUrl, "https://oauth2.googleapis.com/token");
    Default(config.deviceUrl, "https://oauth2.googleapis.com/device/code");
    Default(config.scope, "https://mail.google.com/");
  }
  if (config.tokenFile.empty() && !stateDirectory.empty()) {
    config.tokenFile = stateDirectory + "/" + config.account + ".token";
  }
  const char* missing = nullptr;
  if (config.clientId.empty()) {
    missing = "oauth-client-id";
  } else if (config.tokenUrl.empty()) {
    missing = "oauth-token-url";
  } else if (config.flow == OAuthFlow::Device && config.deviceUrl.empty()) {
    missing = "oauth-device-url";
  } else if (config.flow == OAuthFlow::Browser && config.authorizeUrl.empty()) {
    missing = "oauth-authorize-url";
  } else if (config.flow == OAuthFlow::ClientCredentials && config.clientSecret.empty()) {
    missing = "oauth-client-secret-file";
  } else if (config.tokenFile.empty()) {
    missing = "oauth-token-file";
  }
  if (missing) {
    error = std::string("Account ") + config.account + " has no " + missing;
    return false;
  }
  // The requests carry the refresh token and the client secret: TLS only.
  const std::pair<const char*, const std::string*> endpoints[] = {
      {"oauth-token-url", &config.tokenUrl},
      {"oauth-device-url", &config.deviceUrl},
      {"oauth-authorize-url", &config.authorizeUrl}};
  for (const auto& [key, url] : endpoints) {
    if (!url->empty() && url->compare(0, 8, "https://") != 0) {
      error = std::string("Account ") + config.account + ": " + key + " must be an https address";
      return false;
    }
  }
  return true;
}

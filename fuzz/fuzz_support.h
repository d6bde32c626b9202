// Shared by the fuzz targets: a check that ends the run as a finding, and a
// host database that never leaves the process.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/resolver.h"
#include "support/fake_environment.h"

// Unlike assert, active in every build: a failed oracle is a finding.
#define FUZZ_CHECK(condition)                                                     \
  do {                                                                            \
    if (!(condition)) {                                                           \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                               \
    }                                                                             \
  } while (false)

namespace fuzz {

// Every connection object looks up the local host name when it is made; the
// targets make thousands of them a second, so none asks the system.
class COfflineResolver : public CResolver {
 public:
  bool Resolve(const std::string&, platform::AddressFamilies, std::string& canonicalName,
               std::vector<platform::SAddress>& addresses) override {
    platform::SAddress loopback;
    loopback.family = platform::SAddress::kIPv4;
    loopback.bytes[0] = 127;
    loopback.bytes[3] = 1;
    canonicalName = "localhost";
    addresses.assign(1, loopback);
    return true;
  }
  bool ReverseName(const platform::SAddress&, int, std::string&) override { return false; }
  bool LocalHostName(std::string& name) override {
    name = "fuzz.test";
    return true;
  }
};

inline CResolver& OfflineResolver() {
  static COfflineResolver resolver;
  return resolver;
}

// The tests' environment, with the offline resolver.
inline CFakeEnvironment& OfflineEnvironment() {
  static CFakeEnvironment environment;
  environment.resolver = &OfflineResolver();
  return environment;
}

}  // namespace fuzz

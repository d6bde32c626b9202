// Shared by the fuzz targets: a check that ends the run as a finding, and
// the tests' environment with a host database that never leaves the process.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "support/fake_environment.h"
#include "support/fake_resolver.h"

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
// targets make thousands of them a second, so none asks the system: the
// tests' host database, which knows this machine's name and nothing else.
inline CResolver& OfflineResolver() {
  static CFakeResolver resolver({}, "fuzz.test");
  return resolver;
}

// The tests' environment, with the offline resolver.
inline CFakeEnvironment& OfflineEnvironment() {
  static CFakeEnvironment environment;
  environment.resolver = &OfflineResolver();
  return environment;
}

}  // namespace fuzz

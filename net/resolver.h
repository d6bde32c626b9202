// Where the connection turns names into addresses and back: the system's
// host database, or a fixed table in tests.
#pragma once

#include <string>
#include <vector>

#include "platform/socket.h"

class CResolver {
 public:
  virtual ~CResolver() = default;

  // Every address of name in the order to try them (of the families
  // allowed), and its canonical name. False when none is found.
  virtual bool Resolve(const std::string& name, platform::AddressFamilies families,
                       std::string& canonicalName,
                       std::vector<platform::SAddress>& addresses) = 0;
  // The name an address is registered under, looked up within timeoutMs
  // milliseconds (negative: no limit); false when it has none or the time
  // ran out.
  virtual bool ReverseName(const platform::SAddress& address, int timeoutMs,
                           std::string& name) = 0;
  // This machine's canonical name; false when it cannot be found.
  virtual bool LocalHostName(std::string& name) = 0;

  // The system's host database.
  static CResolver& System();
};

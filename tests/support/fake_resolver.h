// A host database held in the test: names, reverse names and this machine's
// name from fixed tables, so that no lookup leaves the process.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "net/ip_address.h"
#include "net/resolver.h"

class CFakeResolver : public CResolver {
 public:
  struct SHost {
    std::string canonicalName;
    std::vector<platform::SAddress> addresses;
  };

  // localName empty: this machine's name is not found.
  explicit CFakeResolver(std::map<std::string, SHost> names = {}, std::string localName = {})
      : m_names(std::move(names)), m_localName(std::move(localName)) {}

  bool Resolve(const std::string& name, platform::AddressFamilies families,
               std::string& canonicalName, std::vector<platform::SAddress>& addresses) override {
    m_asked.push_back(name);
    auto found = m_names.find(name);
    if (found == m_names.end()) return false;
    addresses.clear();
    for (const platform::SAddress& address : found->second.addresses) {
      const bool wanted =
          families == platform::AddressFamilies::kAny ||
          (families == platform::AddressFamilies::kIPv4Only) ==
              (address.family == platform::SAddress::kIPv4);
      if (wanted) addresses.push_back(address);
    }
    canonicalName = found->second.canonicalName;
    return !addresses.empty();
  }

  bool ReverseName(const platform::SAddress& address, int timeoutMs,
                   std::string& name) override {
    m_reverseAsked.push_back({FormatAddress(address), timeoutMs});
    auto found = m_reverse.find(FormatAddress(address));
    if (found == m_reverse.end()) return false;
    name = found->second;
    return true;
  }

  bool LocalHostName(std::string& name) override {
    name = m_localName;
    return !name.empty();
  }

  // address text -> the name a reverse lookup finds
  void AddReverse(const std::string& address, const std::string& name) {
    m_reverse[address] = name;
  }
  // Every name asked for, in order.
  const std::vector<std::string>& Asked() const { return m_asked; }
  // Every reverse lookup asked for: the address and the time it was given.
  const std::vector<std::pair<std::string, int>>& ReverseAsked() const { return m_reverseAsked; }

 private:
  std::map<std::string, SHost> m_names;
  std::map<std::string, std::string> m_reverse;
  std::string m_localName;
  std::vector<std::string> m_asked;
  std::vector<std::pair<std::string, int>> m_reverseAsked;
};

// An address from its text ("127.0.0.1", "::1"); no family when it is
// neither.
inline platform::SAddress AddressOf(const std::string& text) {
  platform::SAddress address;
  if (ParseIPv6Literal(text, address)) return address;
  ParseInetAddress(text, address);
  return address;
}

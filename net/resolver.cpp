#include "net/resolver.h"

#include "base/bounded_call.h"

namespace {

class CSystemResolver : public CResolver {
 public:
  bool Resolve(const std::string& name, platform::AddressFamilies families,
               std::string& canonicalName, std::vector<platform::SAddress>& addresses) override {
    return platform::LookupHost(name, families, canonicalName, addresses);
  }

  bool ReverseName(const platform::SAddress& address, int timeoutMs,
                   std::string& name) override {
    // The system's lookup has no time limit: a name server that never
    // answers would hold the run past every timeout.
    return CallWithin(
        timeoutMs,
        [address](std::string& found) { return platform::LookupAddressName(address, found); },
        name);
  }

  bool LocalHostName(std::string& name) override {
    std::string own;
    std::vector<platform::SAddress> addresses;
    return platform::GetHostName(own) &&
           platform::LookupHost(own, platform::AddressFamilies::kAny, name, addresses);
  }
};

}  // namespace

CResolver& CResolver::System() {
  static CSystemResolver system;
  return system;
}

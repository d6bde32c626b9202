#include "net/resolver.h"

namespace {

class CSystemResolver : public CResolver {
 public:
  bool Resolve(const std::string& name, platform::AddressFamilies families,
               std::string& canonicalName, std::vector<platform::SAddress>& addresses) override {
    return platform::LookupHost(name, families, canonicalName, addresses);
  }

  bool ReverseName(const platform::SAddress& address, std::string& name) override {
    return platform::LookupAddressName(address, name);
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

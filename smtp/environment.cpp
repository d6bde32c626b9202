#include "smtp/environment.h"

#include "mime/byte_source.h"
#include "mime/content_type_table.h"
#include "platform/pause.h"

namespace {

class CSystemEnvironment : public CEnvironment {
 public:
  SMessageStamp MessageStamp() override { return CurrentMessageStamp(); }
  std::string ContentType(const std::string& extension) override {
    return RegisteredContentType(extension, std::string());
  }
  CByteSource& MessageText() override { return StandardInput(); }
  SLineTimeouts Timeouts() override { return SLineTimeouts(); }
  std::string TrustStore() override { return std::string(); }
  CResolver& Resolver() override { return CResolver::System(); }
  void Pause(int ms) override { platform::PauseMs(ms); }
};

}  // namespace

CEnvironment& CEnvironment::Default() {
  static CSystemEnvironment environment;
  return environment;
}

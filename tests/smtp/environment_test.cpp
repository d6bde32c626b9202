#include "smtp/environment.h"

#include <gtest/gtest.h>

#include "smtp/smtp_client.h"
#include "support/fake_environment.h"

namespace {

bool operator==(const SLineTimeouts& a, const SLineTimeouts& b) {
  return a.connectMs == b.connectMs && a.replyMs == b.replyMs &&
         a.finalReplyMs == b.finalReplyMs && a.sendMs == b.sendMs;
}

// The waits the manual page promises, and the system's certificate store.
TEST(Environment, DefaultWaitsAndTrustStore) {
  const SLineTimeouts waits = CEnvironment::Default().Timeouts();
  EXPECT_EQ(waits.connectMs, 300000);
  EXPECT_EQ(waits.replyMs, 300000);
  EXPECT_EQ(waits.finalReplyMs, 600000);
  EXPECT_EQ(waits.sendMs, 180000);
  EXPECT_EQ(CEnvironment::Default().TrustStore(), "");

  CSmtpClient client(true);
  EXPECT_TRUE(client.Timeouts() == waits);
  EXPECT_EQ(client.Options().tls.caFile, "");
}

TEST(Environment, ClientTakesWaitsAndTrustStoreFromItsEnvironment) {
  CFakeEnvironment environment;
  environment.timeouts = SLineTimeouts{11, 22, 33, 44};
  environment.trustStore = "/etc/relay-ca.pem";
  CSmtpClient client(true, environment);
  EXPECT_TRUE(client.Timeouts() == environment.timeouts);
  EXPECT_EQ(client.Options().tls.caFile, "/etc/relay-ca.pem");
}

// A wrapper changes only what it overrides.
TEST(Environment, WrapperForwardsWhatItLeaves) {
  CFakeEnvironment inner;
  inner.stamp.processId = 77;
  inner.trustStore = "inner.pem";
  struct CShortWaits : CEnvironmentWrapper {
    using CEnvironmentWrapper::CEnvironmentWrapper;
    SLineTimeouts Timeouts() override { return SLineTimeouts{1, 1, 2, 1}; }
  } outer(inner);
  EXPECT_EQ(outer.MessageStamp().processId, 77u);
  EXPECT_EQ(outer.TrustStore(), "inner.pem");
  EXPECT_EQ(&outer.MessageText(), &inner.MessageText());
  EXPECT_EQ(outer.Timeouts().finalReplyMs, 2);
}

}  // namespace

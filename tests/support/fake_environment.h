// An environment for tests: a fixed stamp, media types from a given table
// file, the message text from memory, and waits, trust store and host
// lookup as set.
#pragma once

#include <string>
#include <vector>

#include "mime/content_type_table.h"
#include "smtp/environment.h"
#include "support/memory_source.h"

// The stamp of a Thursday in December 2026 at +0100, with a pid and random
// value easy to spot in a Message-ID.
inline SMessageStamp FixedStamp() {
  SMessageStamp stamp;
  stamp.time = {2026, 12, 10, 3, 22, 15, 4, 60};
  stamp.processId = 4242;
  stamp.random = 0xdeadbeef;
  return stamp;
}

// The Date and Message-ID lines FixedStamp() gives with domain.
inline std::string StampLines(const std::string& domain) {
  return "Date: Thu, 10 Dec 2026 03:22:15 +0100\r\n"
         "Message-ID: <20261210032215.4242.00000000deadbeef@" +
         domain + ">\r\n";
}

class CFakeEnvironment : public CEnvironment {
 public:
  SMessageStamp stamp = FixedStamp();
  // A file in mime.types form; empty: the system's table.
  std::string contentTypeTable;
  // Null: an empty text that ends as the standard input does, so that no
  // test ever waits on the real one.
  CByteSource* messageText = nullptr;
  SLineTimeouts timeouts;
  std::string trustStore;
  // The system's unless a test names every host itself.
  CResolver* resolver = &CResolver::System();
  // Every pause asked for, in order; none is waited.
  std::vector<int> pauses;

  SMessageStamp MessageStamp() override { return stamp; }
  std::string ContentType(const std::string& extension) override {
    return RegisteredContentType(extension, contentTypeTable);
  }
  CByteSource& MessageText() override { return messageText ? *messageText : m_noText; }
  SLineTimeouts Timeouts() override { return timeouts; }
  std::string TrustStore() override { return trustStore; }
  CResolver& Resolver() override { return *resolver; }
  void Pause(int ms) override { pauses.push_back(ms); }

 private:
  CMemorySource m_noText{std::string(), true};
};

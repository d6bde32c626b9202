// What a run takes from the system around it: the message stamp, the media
// types, the message text, the waits, the TLS trust store and the pause
// between tries. The client
// receives one environment when it is made; tests hand it a fake.
#pragma once

#include <string>

#include "mime/header_values.h"
#include "net/line_socket.h"
#include "net/resolver.h"

class CByteSource;

class CEnvironment {
 public:
  virtual ~CEnvironment() = default;

  // The system's: its clock, process id and entropy, its media type table,
  // the process's standard input, the default waits and the system's
  // certificate store. Lives as long as the process.
  static CEnvironment& Default();

  // The time, process id and random value of the Date and Message-ID fields.
  virtual SMessageStamp MessageStamp() = 0;
  // The media type registered for extension (its "." included, such as
  // ".txt"), matched without regard to case; empty when none is.
  virtual std::string ContentType(const std::string& extension) = 0;
  // Where a part without a file name reads the message text. The same source
  // for the whole run, so that bytes read ahead stay available.
  virtual CByteSource& MessageText() = 0;
  // How long a connection waits for its peer.
  virtual SLineTimeouts Timeouts() = 0;
  // The certificate file that verifies a relay by default; empty: the
  // system's store.
  virtual std::string TrustStore() = 0;
  // The host lookup: name to addresses, address to name, the local name.
  virtual CResolver& Resolver() = 0;
  // Waits ms milliseconds between tries of a run.
  virtual void Pause(int ms) = 0;
};

// Forwards every call to another environment; a subclass overrides the few
// it changes.
class CEnvironmentWrapper : public CEnvironment {
 public:
  explicit CEnvironmentWrapper(CEnvironment& target) : m_target(target) {}

  SMessageStamp MessageStamp() override { return m_target.MessageStamp(); }
  std::string ContentType(const std::string& extension) override {
    return m_target.ContentType(extension);
  }
  CByteSource& MessageText() override { return m_target.MessageText(); }
  SLineTimeouts Timeouts() override { return m_target.Timeouts(); }
  std::string TrustStore() override { return m_target.TrustStore(); }
  CResolver& Resolver() override { return m_target.Resolver(); }
  void Pause(int ms) override { m_target.Pause(ms); }

 private:
  CEnvironment& m_target;
};

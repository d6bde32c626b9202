// The settings of a run that the client takes as one value, once, before it
// connects.
#pragma once

#include <string>
#include <vector>

#include "mime/extra_headers.h"
#include "net/line_socket.h"
#include "platform/tls.h"

struct SClientOptions {
  enum TlsMode { kNoTls, kStartTls, kImplicitTls };
  TlsMode tlsMode = kNoTls;
  platform::TlsOptions tls;          // the name checked, the trust store, verification
  std::string heloName;              // given by the user; empty: GreetingName finds one
  CSendWatcher* dataWatcher = nullptr;  // watches the data phase's sends
  // At most this many recipients in one transaction; 0: as many as the
  // relay takes.
  int maxRecipients = 0;
  // Written in this order after the program's own header fields (before
  // the MIME or uuencode ones), each checked by ParseExtraField or made by
  // the program.
  std::vector<SExtraField> extraFields;
  // The message as BDAT chunks where the relay's EHLO offers CHUNKING;
  // false: always DATA (--no-chunking).
  bool chunking = true;
};

// A client whose sends land in an in-memory peer under a fake environment,
// and the parts the header, part and transaction tests build messages from.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "mime/message_part.h"
#include "smtp/smtp_client.h"
#include "support/fake_environment.h"
#include "support/memory_stream.h"

// The delimiter line of boundary counter 0.
inline const std::string kDelimiter0 = "--[=_00000000]: ++++ Section Boundry ++++";

// A part as AddPart leaves it; an empty encoding is a uuencoded part.
inline CMessagePart Part(const std::string& encoding, const std::vector<std::string>& lines,
                         const std::string& contentType = "text/plain",
                         const std::string& charset = "us-ascii") {
  CMessagePart part;
  part.m_contentType = contentType;
  part.m_charset = charset;
  part.m_encoding = encoding;
  part.m_uuencoded = encoding.empty();
  part.m_withholdName = true;
  for (const std::string& line : lines) part.m_lines.push_back(line);
  return part;
}

// A quiet client on a scripted peer, stamped with FixedStamp().
struct SClientOnPeer {
  std::shared_ptr<CMemoryStream::Shared> peer = MakePeer();
  CFakeEnvironment environment;
  CSmtpClient client{true, environment};

  SClientOnPeer() { client.AttachStream(std::make_unique<CMemoryStream>(peer)); }
};

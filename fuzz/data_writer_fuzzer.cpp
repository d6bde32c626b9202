// Arbitrary switch values and parts through SendMail (WriteHeaders,
// SendPart) against an in-memory relay that accepts everything.
//
// Input: fields separated by NUL bytes, in this order: flags (bit 0 of its
// first byte: uuencode mode), originator, To list, Cc list, Bcc list (items
// separated by 0x01), subject, reply-to, then one field per part: a selector
// byte (bits 0-2 the encoder, 3 attachment, 4 name withheld) followed by
// content type, charset, file name and content separated by 0x01.
//
// Oracles: the envelope is one command line per command; the DATA content
// ends with the only line that is "." alone; it holds no bare CR or LF; and
// it has exactly as many line breaks as when every switch value is replaced
// by a plain word, so no value ever adds a line.
#include <deque>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "mime/byte_source.h"
#include "smtp/smtp_client.h"
#include "support/fake_environment.h"
#include "support/memory_source.h"
#include "support/memory_stream.h"

namespace {

// One body part as the input describes it (not the product's SPartPlan).
struct SPartInput {
  unsigned selector = 0;
  std::string contentType, charset, fileName, content;
};

struct SValues {
  bool uuencodeMode = false;
  std::string originator, subject, replyTo;
  std::vector<std::string> to, cc, bcc;
  std::vector<SPartInput> parts;
};

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> items(1);
  for (char c : text) {
    if (c == separator) {
      items.emplace_back();
    } else {
      items.back().push_back(c);
    }
  }
  return items;
}

SValues Parse(std::string_view input) {
  std::vector<std::string> fields = Split(input, '\0');
  fields.resize(std::max<size_t>(fields.size(), 7));
  SValues v;
  v.uuencodeMode = !fields[0].empty() && (fields[0][0] & 1);
  v.originator = fields[1];
  auto list = [](const std::string& field) {
    return field.empty() ? std::vector<std::string>() : Split(field, '\x01');
  };
  v.to = list(fields[2]);
  v.cc = list(fields[3]);
  v.bcc = list(fields[4]);
  v.subject = fields[5];
  v.replyTo = fields[6];
  for (size_t i = 7; i < fields.size() && v.parts.size() < 8; ++i) {
    SPartInput part;
    if (!fields[i].empty()) part.selector = static_cast<unsigned char>(fields[i][0]);
    std::string_view rest = fields[i];
    if (!rest.empty()) rest.remove_prefix(1);
    std::vector<std::string> items = Split(rest, '\x01');
    items.resize(std::max<size_t>(items.size(), 4));
    part.contentType = items[0];
    part.charset = items[1];
    part.fileName = items[2];
    part.content = items[3];
    v.parts.push_back(part);
  }
  return v;
}

// The same message with every switch value replaced by a plain word (or
// left empty), which cannot hold a line break.
SValues Plain(const SValues& v) {
  auto word = [](const std::string& s) { return s.empty() ? std::string() : std::string("w"); };
  auto words = [&](const std::vector<std::string>& list) {
    std::vector<std::string> out;
    for (const std::string& s : list) out.push_back(word(s));
    return out;
  };
  SValues plain = v;
  plain.originator = word(v.originator);
  plain.subject = word(v.subject);
  plain.replyTo = word(v.replyTo);
  plain.to = words(v.to);
  plain.cc = words(v.cc);
  plain.bcc = words(v.bcc);
  for (SPartInput& part : plain.parts) {
    part.contentType = word(part.contentType);
    part.charset = word(part.charset);
    part.fileName = word(part.fileName);
  }
  return plain;
}

// The encoder chains of the message builder, and single encoders.
void Encode(CMessagePart& part, const SPartInput& plan) {
  CMemorySource source(plan.content, (plan.selector & 7) == 0);
  switch (plan.selector & 7) {
    case 0:  // the message text
      part.EncodeQuotedPrintable(source, false);
      break;
    case 1:
      if (!part.EncodeSevenBit(source, false) && !part.EncodeQuotedPrintable(source, true)) {
        part.EncodeBase64(source);
      }
      break;
    case 2:
      if (!part.EncodeSevenBit(source, true)) part.EncodeUuencode(source);
      break;
    case 3:
    case 4:
      part.EncodeUuencode(source);
      break;
    default:
      part.EncodeBase64(source);
      break;
  }
}

// Line breaks that end a line; a break followed by a blank or tab only folds
// a long header line (RFC 5322 section 2.2.3), so long values may add those.
size_t CountBreaks(std::string_view text) {
  size_t count = 0;
  for (size_t at = text.find("\r\n"); at != std::string_view::npos;
       at = text.find("\r\n", at + 2)) {
    const bool fold = at + 2 < text.size() && (text[at + 2] == ' ' || text[at + 2] == '\t');
    if (!fold) ++count;
  }
  return count;
}

std::string Send(const SValues& v) {
  CSmtpClient client(true, fuzz::OfflineEnvironment());
  client.SetOriginator(v.originator);
  for (const std::string& entry : v.to) client.AddRecipient(entry);
  for (const std::string& entry : v.cc) client.AddCcRecipient(entry);
  for (const std::string& entry : v.bcc) client.AddBccRecipient(entry);
  client.m_subject = v.subject;
  client.m_replyTo = v.replyTo;
  client.m_uuencodeMode = v.uuencodeMode;
  for (const SPartInput& plan : v.parts) {
    CMessagePart part;
    part.m_contentType = plan.contentType;
    part.m_charset = plan.charset;
    part.m_fileName = plan.fileName;
    part.m_attachment = plan.selector & 8;
    part.m_withholdName = plan.selector & 16;
    Encode(part, plan);
    client.m_parts.push_back(std::move(part));
  }

  // One reply a chunk: a relay that answers ahead of its commands is out of
  // step, and the transaction rightly fails.
  std::deque<std::string> replies = {"250 ok\r\n"};
  for (size_t i = 0; i < client.m_recipients.size(); ++i) replies.push_back("250 ok\r\n");
  replies.push_back("354 go on\r\n");
  replies.push_back("250 ok\r\n");
  auto peer = MakePeer(std::move(replies));
  client.AttachStream(std::make_unique<CMemoryStream>(peer));
  FUZZ_CHECK(client.SendMail());
  FUZZ_CHECK(client.m_recipientCursor == static_cast<int>(client.m_recipients.size()));
  return peer->sent;
}

// One command line: the whole text up to the first CR LF, no other break.
std::string_view TakeCommand(std::string_view& sent) {
  const size_t end = sent.find("\r\n");
  FUZZ_CHECK(end != std::string_view::npos);
  std::string_view line = sent.substr(0, end);
  FUZZ_CHECK(line.find_first_of("\r\n") == std::string_view::npos);
  sent.remove_prefix(end + 2);
  return line;
}

void CheckWire(std::string_view sent, size_t recipients) {
  FUZZ_CHECK(TakeCommand(sent).starts_with("MAIL FROM:<"));
  for (size_t i = 0; i < recipients; ++i) FUZZ_CHECK(TakeCommand(sent).starts_with("RCPT TO:<"));
  FUZZ_CHECK(TakeCommand(sent) == "DATA");

  std::string_view data = sent;
  FUZZ_CHECK(data.ends_with("\r\n.\r\n"));
  data.remove_suffix(3);
  for (size_t i = 0; i < data.size(); ++i) {
    if (data[i] == '\r') FUZZ_CHECK(i + 1 < data.size() && data[i + 1] == '\n');
    if (data[i] == '\n') FUZZ_CHECK(i > 0 && data[i - 1] == '\r');
  }
  for (size_t start = 0; start < data.size();) {
    const size_t end = data.find("\r\n", start);
    FUZZ_CHECK(data.substr(start, end - start) != ".");
    start = end + 2;
  }
}

}  // namespace


extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const SValues values = Parse(std::string_view(reinterpret_cast<const char*>(data), size));
  const size_t recipients = values.to.size() + values.cc.size() + values.bcc.size();
  const std::string sent = Send(values);
  CheckWire(sent, recipients);
  const std::string plain = Send(Plain(values));
  CheckWire(plain, recipients);
  FUZZ_CHECK(CountBreaks(sent) == CountBreaks(plain));
  return 0;
}

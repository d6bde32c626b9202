// The message operations of CSmtpClient: originator, recipients and the body
// parts, each read completely when it is added: the message text is kept
// encoded, a file is planned and encoded again as it is sent.
#include <cstdio>
#include <new>
#include <string>

#include "mime/byte_source.h"
#include "mime/charset_table.h"
#include "mime/content_type_table.h"
#include "mime/part_plan.h"
#include "platform/code_page.h"
#include "smtp/smtp_client.h"

namespace {

// A message text larger than this is spooled to a file.
constexpr size_t kSpoolBlockBytes = 1024 * 1024;

}  // namespace

bool CSmtpClient::SetOriginator(const std::string& text) {
  return SplitAddress(text, m_originatorAddress, m_originatorName);
}

bool CSmtpClient::AddRecipient(const std::string& entry) {
  m_recipients.push_back(entry);
  return true;
}

bool CSmtpClient::AddCcRecipient(const std::string& entry) {
  if (m_ccStart == kUnsetStart) m_ccStart = static_cast<int>(m_recipients.size());
  m_recipients.push_back(entry);
  return true;
}

bool CSmtpClient::AddBccRecipient(const std::string& entry) {
  if (m_bccStart == kUnsetStart) m_bccStart = static_cast<int>(m_recipients.size());
  if (m_ccStart == kUnsetStart) m_ccStart = static_cast<int>(m_recipients.size());
  m_recipients.push_back(entry);
  return true;
}

bool CSmtpClient::SplitAddress(const std::string& entry, std::string& address, std::string& name) {
  const std::string text = entry;  // entry may be one of the outputs
  address.clear();
  name.clear();
  const size_t open = text.find('<');
  if (open == std::string::npos) {
    address = text;
    return true;
  }
  name = text.substr(0, open);
  const size_t close = text.find('>', open + 1);
  address = text.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
  return true;
}

// The last "." of the whole name, directories included, starts the
// extension. No code set the locale may use has "." as the second byte of a
// character, so a plain byte search is safe.
std::string CSmtpClient::LookupContentType(const std::string& fileName) const {
  const size_t dot = fileName.rfind('.');
  if (dot == std::string::npos) return kDefaultContentType;
  const std::string type = m_environment.ContentType(fileName.substr(dot));
  return type.empty() ? kDefaultContentType : type;
}

bool CSmtpClient::AddPart(const std::string& fileName, bool attachment, const std::string& charset,
                          bool withholdName) {
  std::string reason;
  try {
    CMessagePart part;
    part.m_contentType = LookupContentType(fileName);
    part.m_charset = charset.empty()
                         ? DefaultCharset(platform::DefaultCodePage(), platform::LocaleCodeSet())
                         : charset;
    part.m_fileName = fileName;
    part.m_attachment = attachment;
    part.m_withholdName = withholdName;

    if (fileName.empty()) {
      part.m_contentType = "text/plain";
      std::fputs("Type Message, end with .<CR>\n", stderr);
      std::fflush(stderr);
      CByteSource& source = m_environment.MessageText();
      // A text that starts with the UTF-8 byte order mark says what it is;
      // the locale's charset would label it wrongly.
      if (charset.empty() && source.Peek().substr(0, 3) == "\xEF\xBB\xBF") part.m_charset = "UTF-8";
      // A large text goes to a private temporary file block by block, so
      // that memory stays flat whatever is piped in.
      auto spool = std::make_shared<CTextSpool>();
      part.m_lines.HandTo(spool.get(), kSpoolBlockBytes);
      part.EncodeQuotedPrintable(source, false);
      if (spool->LineCount() > 0) {
        part.m_lines.HandOn();
        part.m_lines.clear();
        if (spool->Spooled()) {
          part.m_spool = spool;
        } else {
          part.m_lines = std::move(spool->KeptLines());
        }
      }
      part.m_lines.HandTo(nullptr, 0);
      // A text cut short by a read error is not sent as if it were whole.
      if (source.Failed()) {
        m_outcome.Fail(FailureKind::kUnreadablePart, source.FailureText());
        return false;
      }
      if (!spool->Whole()) {
        m_outcome.Fail(FailureKind::kUnreadablePart, "the temporary file could not be written");
        return false;
      }
    } else {
      if (!PlanFilePart(part, m_uuencodeMode, m_forceUuencode, m_boundaryText, reason)) {
        m_outcome.Fail(FailureKind::kUnreadablePart, reason);
        return false;
      }
    }

    m_parts.push_back(std::move(part));
    return true;
  } catch (const std::bad_alloc&) {
    // A file too large to hold is one that cannot be added.
    m_outcome.Fail(FailureKind::kUnreadablePart, "not enough memory");
    return false;
  }
}

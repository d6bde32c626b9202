// The message operations of CSmtpClient: originator, recipients and the body
// parts, each read and encoded completely when it is added.
#include <cstdio>
#include <new>
#include <string>

#include "base/ascii_text.h"
#include "mime/byte_source.h"
#include "mime/charset_table.h"
#include "mime/content_type_table.h"
#include "platform/code_page.h"
#include "smtp/smtp_client.h"

namespace {

const char kDefaultContentType[] = "application/octet-stream";

// Fills part from file by the message mode. A non-text file in a MIME
// message goes straight to base64: 7bit and quoted-printable rewrite line
// breaks, which would alter it. A message or multipart body may not be
// base64 (RFC 2046), so it goes 7bit, or, when it is not 7-bit text, as
// opaque data under a type that allows base64. False when a read failed on
// the way.
bool EncodeFile(CMessagePart& part, CFileSource& file, bool uuencodeMode, bool forceUuencode) {
  if (forceUuencode) {
    part.EncodeUuencode(file);
  } else if (uuencodeMode) {
    if (!part.EncodeSevenBit(file, true) && !file.Failed()) part.EncodeUuencode(file);
  } else if (StartsWithIgnoringCase(part.m_contentType, "text/")) {
    if (!part.EncodeSevenBit(file, false) && !file.Failed() &&
        !part.EncodeQuotedPrintable(file, true) && !file.Failed()) {
      part.EncodeBase64(file);
    }
  } else if (StartsWithIgnoringCase(part.m_contentType, "message/") ||
             StartsWithIgnoringCase(part.m_contentType, "multipart/")) {
    if (!part.EncodeSevenBit(file, false) && !file.Failed()) {
      part.m_contentType = kDefaultContentType;
      part.EncodeBase64(file);
    }
  } else {
    part.EncodeBase64(file);
  }
  return !file.Failed();
}

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
  const std::string type = RegisteredContentType(fileName.substr(dot), m_contentTypeTable);
  return type.empty() ? kDefaultContentType : type;
}

bool CSmtpClient::AddPart(const std::string& fileName, bool attachment, const std::string& charset,
                          bool withholdName) {
  m_partFailure.clear();
  long long size = -1;
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
      CByteSource& source = m_messageTextSource ? *m_messageTextSource : StandardInput();
      part.EncodeQuotedPrintable(source, false);
      // A text cut short by a read error is not sent as if it were whole.
      if (source.Failed()) {
        m_partFailure = source.FailureText();
        return false;
      }
    } else {
      CFileSource file;
      const bool opened = file.Open(fileName);
      size = file.SizeHint();
      if (!opened || !EncodeFile(part, file, m_uuencodeMode, m_forceUuencode)) {
        m_partFailure = file.FailureText();
        return false;
      }
    }

    m_parts.push_back(std::move(part));
    return true;
  } catch (const std::bad_alloc&) {
    // A file too large to hold is one that cannot be added.
    m_partFailure = "not enough memory";
    if (size >= 0) m_partFailure += " for a file of " + std::to_string(size) + " bytes";
    return false;
  }
}

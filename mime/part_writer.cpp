// One body part on the wire: its header lines or uuencode framing, its
// dot-stuffed lines and the separator after it.
#include <string>

#include "base/ascii_text.h"
#include "mime/boundary.h"
#include "mime/charset_table.h"
#include "mime/header_folding.h"
#include "mime/header_values.h"
#include "mime/mime_parameters.h"
#include "mime/part_stream.h"
#include "platform/code_page.h"
#include "platform/path.h"
#include "platform/text_encoding.h"
#include "smtp/smtp_client.h"

namespace {

// The name a part is announced with: the last name of its file's path, so
// that the sender's directories stay private; empty when it has none or it
// is withheld.
std::string DisplayName(const CMessagePart& part) {
  if (part.m_fileName.empty() || part.m_withholdName) return std::string();
  return std::string(LastPathName(part.m_fileName, platform::PathSeparators()));
}

// Dot-stuffing: a line that begins with "." gets one more, so that no line
// of the content can read as the end of the data. Off only for data that
// never reaches SMTP (a dry run).
void SendStuffed(CLineSocket& socket, const CLineList& lines, bool stuffing) {
  std::string stuffed;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (stuffing && !line.empty() && line[0] == '.') {
      stuffed.assign(1, '.');
      stuffed.append(line);
      socket.SendText(stuffed);
    } else {
      socket.SendText(line);
    }
  }
}

// Sends a spooled text's blocks, a dot added before each line that starts
// with one when stuffing. Lines end in CR LF, so a line starts after LF.
bool SendSpooled(CLineSocket& socket, CTextSpool& spool, bool stuffing) {
  bool lineStart = true;
  return spool.ForEachBlock([&](std::string_view block) {
    if (!stuffing) {
      socket.SendText(block);
      return;
    }
    size_t sent = 0;
    for (size_t i = 0; i < block.size(); ++i) {
      if (lineStart && block[i] == '.') {
        socket.SendText(block.substr(sent, i - sent));
        socket.SendText(".");
        sent = i;
      }
      lineStart = block[i] == '\n';
    }
    socket.SendText(block.substr(sent));
  });
}

// Sends the lines of a planned file as its encoding makes them.
class CStuffingSink : public CLineSink {
 public:
  CStuffingSink(CLineSocket& socket, bool stuffing) : m_socket(socket), m_stuffing(stuffing) {}
  void TakeLines(const CLineList& lines) override { SendStuffed(m_socket, lines, m_stuffing); }

 private:
  CLineSocket& m_socket;
  bool m_stuffing;
};

// A name typed on a Unicode command line is UTF-8 and opens the file as
// such; the header shows it in the charset that labels the header block.
std::string InCharset(const std::string& name, const std::string& configured) {
  if (!platform::ArgumentsAreUnicode()) return name;
  const unsigned codePage =
      configured.empty() ? platform::DefaultCodePage() : CodePageForCharset(configured);
  std::string converted;
  return codePage != 0 && platform::TextInCodePage(name, codePage, converted) ? converted : name;
}

// One part: its fields and blank line (or uuencode "begin"), then its
// lines, or for a multipart part its parts between its own delimiters.
// False when a planned file changed (a kChangedFile failure then names it).
bool SendEntity(CSmtpClient& client, const CMessagePart& part) {
  // Line breaks in a name, type or charset would end the header line early.
  const std::string name =
      NeutraliseLineBreaks(InCharset(DisplayName(part), client.m_headerCharset));
  std::string delimiter;
  if (part.IsMultipart()) {
    delimiter = FormatDelimiter(part.m_boundaryCounter, client.m_boundaryText);
    // RFC 2387: a related part names the type of its first part, the root.
    CHeaderFolder type("Content-Type:");
    type.Add(" ", NeutraliseLineBreaks(part.m_contentType));
    if (EqualsIgnoringCase(part.m_contentType, "multipart/related")) {
      type.Add("", ";");
      type.Add(" ", "type=\"" + NeutraliseLineBreaks(part.m_children[0].m_contentType) + "\"");
    }
    type.Add("", ";");
    type.Add(" ", "boundary=\"" + delimiter.substr(2) + "\"");
    client.SendHeaderLine(type.Text());
    client.SendFormatted("\r\n");
  } else if (!client.m_uuencodeMode) {
    // Long lines fold before a parameter; a name that needs it is escaped or
    // encoded there.
    const std::string charset = client.HeaderCharsetName();
    CHeaderFolder type("Content-Type:");
    type.Add(" ", NeutraliseLineBreaks(part.m_contentType));
    if (StartsWithIgnoringCase(part.m_contentType, "text/")) {
      type.Add("", ";");
      type.Add(" ", "charset=" + NeutraliseLineBreaks(part.m_charset));
    }
    if (!name.empty()) {
      type.Add("", ";");
      AddNameParameter(type, "name", name, charset, true);
    }
    client.SendHeaderLine(type.Text());
    client.SendFormatted("Content-Transfer-Encoding: %s\r\n",
                         NeutraliseLineBreaks(part.m_encoding).c_str());
    if (!part.m_contentId.empty()) {
      client.SendFormatted("Content-ID: <%s>\r\n",
                           NeutraliseLineBreaks(part.m_contentId).c_str());
    }
    CHeaderFolder disposition("Content-Disposition:");
    disposition.Add(" ", part.m_attachment ? "attachment" : "inline");
    if (!name.empty()) {
      disposition.Add("", ";");
      AddNameParameter(disposition, "filename", name, charset, false);
    }
    client.SendHeaderLine(disposition.Text());
    client.SendFormatted("\r\n");
  } else if (part.m_uuencoded) {
    client.SendFormatted("begin 644 %s\r\n", name.empty() ? "noname" : name.c_str());
  }

  if (part.IsMultipart()) {
    client.SendFormatted("\r\n%s\r\n", delimiter.c_str());
    for (size_t i = 0; i < part.m_children.size(); ++i) {
      if (!SendEntity(client, part.m_children[i])) return false;
      client.SendFormatted(i + 1 == part.m_children.size() ? "\r\n%s--\r\n" : "\r\n%s\r\n",
                           delimiter.c_str());
    }
  } else if (part.m_plan) {
    CStuffingSink sink(client, client.m_dotStuffing);
    if (!StreamPlannedPart(part, sink)) {
      client.m_outcome.Fail(FailureKind::kChangedFile, part.m_fileName);
      return false;
    }
  } else if (part.m_spool) {
    if (!SendSpooled(client, *part.m_spool, client.m_dotStuffing)) {
      client.m_outcome.Fail(FailureKind::kChangedFile, "The temporary copy of the message text");
      return false;
    }
  } else {
    SendStuffed(client, part.m_lines, client.m_dotStuffing);
  }
  return true;
}

}  // namespace

bool CSmtpClient::SendPart(size_t index) {
  if (index >= m_parts.size()) return false;
  const CMessagePart& part = m_parts[index];
  if (!SendEntity(*this, part)) return false;

  if (!m_uuencodeMode && m_parts.size() > 1) {
    std::string delimiter;
    FormatBoundary(delimiter);
    SendFormatted(index + 1 == m_parts.size() ? "\r\n%s--\r\n" : "\r\n%s\r\n",
                  delimiter.c_str());
  } else {
    if (part.m_uuencoded) SendFormatted("end\r\n");
    SendFormatted("\r\n");
  }
  return true;
}

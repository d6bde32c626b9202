#include "smtp/ehlo.h"

#include "smtp/smtp_client.h"

namespace {

bool IsKeywordByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

}  // namespace

EhloKeywords ParseEhloKeywords(const std::vector<std::string>& lines) {
  EhloKeywords keywords;
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.size() <= 4) continue;
    const size_t end = line.find(' ', 4);
    std::string keyword = line.substr(4, end == std::string::npos ? std::string::npos : end - 4);
    bool valid = !keyword.empty();
    for (char& c : keyword) {
      valid = valid && IsKeywordByte(c);
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    if (!valid) continue;
    const size_t params = end == std::string::npos ? end : line.find_first_not_of(' ', end);
    keywords[keyword] = params == std::string::npos ? std::string() : line.substr(params);
  }
  return keywords;
}

bool CSmtpClient::Ehlo() {
  if (!NothingWaiting()) return false;
  SendFormatted("EHLO %s\r\n", GreetingName().c_str());
  std::vector<std::string> lines;
  m_identified = ReadReply("250", Timeouts().replyMs, &lines);
  m_ehloKeywords = m_identified ? ParseEhloKeywords(lines) : EhloKeywords();
  return m_identified;
}

#include "app/run_report.h"

#include <cctype>

#include <nlohmann/json.hpp>

#include "base/ascii_text.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsReplyLine(const std::string& line) {
  return line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) &&
         (line.size() == 3 || line[3] == ' ' || line[3] == '-');
}

// The length of an enhanced status code of class cls at the start of text
// ("5.1.1", then a blank or the end); 0 when there is none.
size_t EnhancedCodeLength(const std::string& text, char cls) {
  if (text.size() < 5 || text[0] != cls || text[1] != '.') return 0;
  size_t i = 2;
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i]) && digits < 3) ++i, ++digits;
  if (digits == 0 || i >= text.size() || text[i] != '.') return 0;
  ++i;
  digits = 0;
  while (i < text.size() && IsDigit(text[i]) && digits < 3) ++i, ++digits;
  if (digits == 0 || (i < text.size() && text[i] != ' ')) return 0;
  return i;
}

bool IsIdChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_' ||
         c == '@' || c == '/' || c == '+' || c == '=';
}

// The id at from in line: a run of id characters without a last "." (an
// end of sentence); empty when there is none.
std::string IdAt(const std::string& line, size_t from) {
  size_t end = from;
  while (end < line.size() && IsIdChar(line[end])) ++end;
  while (end > from && line[end - 1] == '.') --end;
  return line.substr(from, end - from);
}

nlohmann::ordered_json ReplyJson(const std::vector<std::string>& lines) {
  if (lines.empty()) return nullptr;
  const SReplyParts parts = SplitReply(lines);
  nlohmann::ordered_json reply;
  reply["code"] = parts.code ? nlohmann::ordered_json(*parts.code) : nlohmann::ordered_json(nullptr);
  reply["enhanced"] = parts.enhanced.empty() ? nlohmann::ordered_json(nullptr)
                                             : nlohmann::ordered_json(parts.enhanced);
  reply["text"] = parts.text;
  return reply;
}

}  // namespace

SReplyParts SplitReply(const std::vector<std::string>& lines) {
  SReplyParts parts;
  if (lines.empty()) return parts;
  const bool wellFormed = IsReplyLine(lines.front());
  if (wellFormed) parts.code = std::stoi(lines.front().substr(0, 3));
  std::string enhanced;
  if (wellFormed && lines.front().size() > 4) {
    const std::string rest = lines.front().substr(4);
    const size_t length = EnhancedCodeLength(rest, lines.front()[0]);
    if (length) parts.enhanced = rest.substr(0, length);
  }
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    std::string text = line;
    if (wellFormed && IsReplyLine(line)) {
      text = line.size() > 4 ? line.substr(4) : std::string();
      // The same code repeated on each line is dropped with it.
      if (!parts.enhanced.empty() && text.compare(0, parts.enhanced.size(), parts.enhanced) == 0 &&
          (text.size() == parts.enhanced.size() || text[parts.enhanced.size()] == ' ')) {
        text = text.substr(std::min(text.size(), parts.enhanced.size() + 1));
      }
    }
    if (i > 0) parts.text += '\n';
    parts.text += text;
  }
  return parts;
}

std::optional<std::string> QueueIdFromReply(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    const std::string lower = AsciiLowered(line);
    size_t at = lower.find("queued as");
    if (at != std::string::npos) {
      at += 9;
      if (at < line.size() && line[at] == ':') ++at;
      while (at < line.size() && line[at] == ' ') ++at;
      const std::string id = IdAt(line, at);
      if (!id.empty()) return id;
    }
    at = lower.find(" id=");
    if (at != std::string::npos) {
      const std::string id = IdAt(line, at + 4);
      if (!id.empty()) return id;
    }
    at = lower.find(" message accepted for delivery");
    if (at != std::string::npos && at > 0) {
      // "250 2.0.0 5BA1xyz123 Message accepted ..." or "... 5BA1xyz123: Message ..."
      size_t end = at;
      if (line[end - 1] == ':') --end;
      size_t begin = end;
      while (begin > 0 && IsIdChar(line[begin - 1])) --begin;
      const std::string id = line.substr(begin, end - begin);
      if (!id.empty() && id.find('.') == std::string::npos) return id;
    }
  }
  return std::nullopt;
}

const char* StageName(RunStage stage) {
  switch (stage) {
    case RunStage::kBeforeConnecting: return "before-connecting";
    case RunStage::kConnect: return "connect";
    case RunStage::kGreeting: return "greeting";
    case RunStage::kTls: return "tls";
    case RunStage::kAuth: return "auth";
    case RunStage::kMail: return "mail";
    case RunStage::kRcpt: return "rcpt";
    case RunStage::kData: return "data";
    case RunStage::kEndOfData: return "end-of-data";
    case RunStage::kQuit: return "quit";
  }
  return "";
}

std::string FormatRunReport(const SRunReport& report) {
  nlohmann::ordered_json object;
  object["status"] = report.status;
  object["status_name"] = report.statusName;
  object["temporary"] = report.temporary;
  object["stage"] = StageName(report.stage);
  object["reply"] = ReplyJson(report.reply);
  nlohmann::ordered_json recipients = nlohmann::ordered_json::array();
  for (const SRecipientReply& recipient : report.recipients) {
    recipients.push_back({{"address", recipient.address},
                          {"accepted", recipient.accepted},
                          {"reply", ReplyJson(recipient.reply)}});
  }
  object["recipients"] = recipients;
  object["message_id"] =
      report.messageId.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(report.messageId);
  object["queue_id"] = report.queueId ? nlohmann::ordered_json(*report.queueId) : nlohmann::ordered_json(nullptr);
  object["bytes"] = report.bytes;
  object["transactions"] = report.transactions;
  object["attempts"] = report.attempts;
  object["elapsed_ms"] = report.elapsedMs;
  object["delivery_unknown"] = report.deliveryUnknown;
  return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

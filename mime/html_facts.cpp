#include "mime/html_facts.h"

#include <algorithm>

#include "base/ascii_text.h"
#include "base/percent_decoding.h"
#include "mime/byte_source.h"
#include "mime/html_text.h"

namespace {

// Browsers look for the declaration in the first 1024 bytes; a little more
// costs nothing.
constexpr size_t kHeadBytes = 4096;
constexpr size_t kMostReferenceBytes = 998;

std::string CharsetParameter(std::string_view content) {
  for (size_t i = 0; i + 8 <= content.size(); ++i) {
    if (!StartsWithIgnoringCase(content.substr(i), "charset=")) continue;
    std::string_view value = content.substr(i + 8);
    if (!value.empty() && (value[0] == '"' || value[0] == '\'')) value.remove_prefix(1);
    size_t end = 0;
    while (end < value.size() && value[end] != ';' && value[end] != '"' && value[end] != '\'' &&
           value[end] != ' ') {
      ++end;
    }
    return std::string(value.substr(0, end));
  }
  return std::string();
}

bool IsSafeCharsetName(std::string_view name) {
  if (name.empty() || name.size() > 40) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '_' || c == '.' || c == ':';
  });
}

}  // namespace

std::string MetaCharset(std::string_view head) {
  for (size_t at = 0; (at = head.find('<', at)) != std::string_view::npos; ++at) {
    if (!StartsWithIgnoringCase(head.substr(at + 1), "meta")) continue;
    const size_t close = head.find('>', at);
    const std::string_view tag =
        head.substr(at + 1, close == std::string_view::npos ? std::string_view::npos
                                                            : close - at - 1);
    std::string value;
    std::string charset;
    if (FindHtmlAttribute(tag, "charset", value)) {
      charset = value;
    } else if (FindHtmlAttribute(tag, "http-equiv", value) &&
               EqualsIgnoringCase(value, "content-type") &&
               FindHtmlAttribute(tag, "content", value)) {
      charset = CharsetParameter(value);
    }
    // The name becomes a parameter of the part's header: nothing else.
    if (IsSafeCharsetName(charset)) return charset;
  }
  return std::string();
}

void CCidScanner::Feed(std::string_view html) {
  static constexpr std::string_view kScheme = "cid:";
  for (char c : html) {
    if (m_inReference) {
      const bool ends = c == '"' || c == '\'' || c == ' ' || c == '\t' || c == '\r' ||
                        c == '\n' || c == ')' || c == '<' || c == '>';
      if (ends || m_reference.size() >= kMostReferenceBytes) {
        End();
      } else {
        m_reference += c;
        continue;
      }
    }
    if (AsciiLower(c) == kScheme[m_match]) {
      if (++m_match == kScheme.size()) {
        m_match = 0;
        m_inReference = true;
        m_reference.clear();
      }
    } else {
      m_match = AsciiLower(c) == kScheme[0] ? 1 : 0;
    }
  }
}

void CCidScanner::End() {
  m_inReference = false;
  if (m_reference.empty()) return;
  const std::string decoded = PercentDecoded(m_reference);
  if (std::find(m_references.begin(), m_references.end(), decoded) == m_references.end()) {
    m_references.push_back(decoded);
  }
}

bool ScanHtmlFile(const std::string& path, SHtmlFacts& facts, std::string& failure) {
  CFileSource file;
  if (!file.Open(path)) {
    failure = file.FailureText();
    return false;
  }
  std::string head;
  CCidScanner scanner;
  for (std::string_view view = file.Peek(); !view.empty(); view = file.Peek()) {
    if (head.size() < kHeadBytes) head.append(view.substr(0, kHeadBytes - head.size()));
    scanner.Feed(view);
    file.Skip(view.size());
  }
  if (file.Failed()) {
    failure = file.FailureText();
    return false;
  }
  scanner.Feed(" ");  // ends a reference at the end of the file
  facts.byteOrderMark = head.starts_with("\xEF\xBB\xBF");
  facts.metaCharset = MetaCharset(head);
  facts.cidReferences = scanner.References();
  return true;
}

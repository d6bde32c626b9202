#include "mime/html_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "base/ascii_text.h"
#include "mime/html_entities.h"

namespace {

// Longer tags and entities are not markup anyone writes; what is kept of
// them is bounded so that broken markup costs no memory.
constexpr size_t kMostTagBytes = 8 * 1024;
// Lists nested deeper than anyone reads are indented and numbered as the
// deepest kept, so that neither the text nor the memory grows with them.
constexpr size_t kMostListLevels = 100;
constexpr size_t kMostIndents = 10;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAlnum(char c) { return IsLetter(c) || (c >= '0' && c <= '9'); }

int BreaksOf(std::string_view name) {
  static constexpr const char* kParagraphs[] = {"p",  "h1", "h2",         "h3",    "h4",
                                                "h5", "h6", "blockquote", "table", "hr",
                                                "dl", "form", "fieldset", "address", "figure"};
  static constexpr const char* kLines[] = {
      "div",    "tr",   "dt",    "dd",        "section", "article", "header", "footer",
      "nav",    "main", "aside", "figcaption", "caption", "center",  "body",   "html"};
  for (const char* n : kParagraphs) {
    if (name == n) return 2;
  }
  for (const char* n : kLines) {
    if (name == n) return 1;
  }
  return 0;
}

bool IsDropped(std::string_view name) {
  return name == "script" || name == "style" || name == "title" || name == "template";
}

}  // namespace

bool FindHtmlAttribute(std::string_view tag, std::string_view name, std::string& value) {
  size_t i = 0;
  while (i < tag.size() && !IsSpace(tag[i]) && tag[i] != '/') ++i;  // the tag's name
  while (i < tag.size()) {
    while (i < tag.size() && (IsSpace(tag[i]) || tag[i] == '/')) ++i;
    const size_t start = i;
    while (i < tag.size() && !IsSpace(tag[i]) && tag[i] != '=' && tag[i] != '/') ++i;
    const std::string_view attribute = tag.substr(start, i - start);
    while (i < tag.size() && IsSpace(tag[i])) ++i;
    std::string_view found;
    if (i < tag.size() && tag[i] == '=') {
      ++i;
      while (i < tag.size() && IsSpace(tag[i])) ++i;
      if (i < tag.size() && (tag[i] == '"' || tag[i] == '\'')) {
        const char quote = tag[i++];
        const size_t close = std::min(tag.find(quote, i), tag.size());
        found = tag.substr(i, close - i);
        i = close + 1;
      } else {
        const size_t valueStart = i;
        while (i < tag.size() && !IsSpace(tag[i])) ++i;
        found = tag.substr(valueStart, i - valueStart);
      }
    }
    if (!attribute.empty() && EqualsIgnoringCase(attribute, name)) {
      value.assign(found);
      return true;
    }
    if (attribute.empty() && i < tag.size() && tag[i] != '/') ++i;
  }
  return false;
}

struct CHtmlToText::SState {
  enum EMode { kText, kTagOpen, kTag, kBang, kComment, kSkip, kEntity, kDropped };

  explicit SState(std::string_view charsetName) : charset(EntityCharsetOf(charsetName)) {}

  EEntityCharset charset;
  EMode mode = kText;
  std::string tag;     // text of the tag being read, or of the entity
  char quote = 0;      // the quote a tag's attribute value is inside
  int dashes = 0;      // in a comment: "-" just seen in a row
  std::string dropped;  // what ends dropped content: "</" and the element's name
  size_t closeMatch = 0;  // bytes of it seen
  // What the next visible text is preceded by.
  int breaks = 0;
  bool space = false;
  std::string marker;  // a list item's, before its first text
  bool hasText = false;
  bool lineStart = true;
  int pre = 0;
  std::vector<int> lists;  // per open list: 0 for <ul>, else the next number
  size_t deeperLists = 0;  // lists open past kMostListLevels, taken as the last
  bool inLink = false;
  std::string href;
  std::string linkText;

  void Break(int n) {
    if (hasText) breaks = std::max(breaks, n);
  }

  void Visible(std::string_view text, std::string& out) {
    if (breaks > 0) {
      out.append(static_cast<size_t>(breaks), '\n');
      breaks = 0;
      lineStart = true;
    } else if (space && !lineStart) {
      out += ' ';
      if (inLink) linkText += ' ';
    }
    space = false;
    if (lineStart && !marker.empty()) {
      out += marker;
      marker.clear();
    }
    out.append(text);
    if (inLink) linkText.append(text);
    hasText = true;
    lineStart = false;
  }

  void Character(char c, std::string& out) {
    if (pre > 0 && (c == '\n' || c == '\r')) {
      if (c == '\r') return;
      breaks += 1;
      if (!hasText) breaks = 0;
      return;
    }
    if (pre == 0 && IsSpace(c)) {
      space = true;
      return;
    }
    Visible(std::string_view(&c, 1), out);
  }

  void Entity(std::string& out) {
    const uint32_t cp = EntityCodePoint(tag);
    std::string text;
    if (cp == 0 || !AppendCodePoint(cp, charset, text)) {
      Visible("&" + tag + ";", out);
    } else if (text.size() == 1) {
      Character(text[0], out);
    } else {
      Visible(text, out);
    }
  }

  void Tag(std::string& out) {
    const bool closing = !tag.empty() && tag[0] == '/';
    size_t end = closing ? 1 : 0;
    while (end < tag.size() && IsAlnum(tag[end])) ++end;
    std::string name = tag.substr(closing ? 1 : 0, end - (closing ? 1 : 0));
    for (char& c : name) c = AsciiLower(c);
    const bool selfClosing = !tag.empty() && tag.back() == '/';

    if (name == "br") {
      if (hasText) breaks += 1;
    } else if (name == "ul" || name == "ol") {
      if (closing && deeperLists > 0) {
        --deeperLists;
      } else if (closing && !lists.empty()) {
        lists.pop_back();
      }
      Break(lists.empty() ? 2 : 1);
      if (!closing && lists.size() < kMostListLevels) {
        lists.push_back(name == "ol" ? 1 : 0);
      } else if (!closing) {
        ++deeperLists;
      }
    } else if (name == "li") {
      Break(1);
      if (!closing) {
        const size_t depth = std::min(lists.empty() ? 1 : lists.size(), kMostIndents);
        marker.assign(2 * (depth - 1), ' ');
        if (!lists.empty() && lists.back() > 0) {
          marker += std::to_string(lists.back()++) + ". ";
        } else {
          marker += "* ";
        }
      }
    } else if (name == "pre") {
      Break(2);
      pre = closing ? std::max(0, pre - 1) : pre + 1;
    } else if (name == "td" || name == "th") {
      space = true;
    } else if (name == "a") {
      if (!closing) {
        std::string value;
        inLink = FindHtmlAttribute(tag, "href", value);
        href = DecodeEntities(value, charset);
        linkText.clear();
      } else if (inLink) {
        inLink = false;
        // A link that shows its address already is not repeated; an
        // address within the page means nothing outside it.
        if (!href.empty() && href[0] != '#' && href != linkText && href != "mailto:" + linkText) {
          space = true;
          Visible("[" + href + "]", out);
        }
      }
    } else if (!closing && !selfClosing && IsDropped(name)) {
      dropped = "</" + name;
      closeMatch = 0;
      mode = kDropped;
      return;
    } else {
      Break(BreaksOf(name));
    }
    mode = kText;
  }

  // Dropped content ends at "</name"; the rest of that tag is read as one.
  void DroppedByte(char c) {
    const char lower = AsciiLower(c);
    if (lower == dropped[closeMatch]) {
      if (++closeMatch == dropped.size()) {
        tag = dropped.substr(1);
        quote = 0;
        mode = kTag;
      }
    } else {
      closeMatch = lower == '<' ? 1 : 0;
    }
  }

  void Byte(char c, std::string& out) {
    switch (mode) {
      case kText:
        if (c == '<') {
          mode = kTagOpen;
        } else if (c == '&') {
          tag.clear();
          mode = kEntity;
        } else {
          Character(c, out);
        }
        return;
      case kTagOpen:
        tag.clear();
        quote = 0;
        if (IsLetter(c) || c == '/') {
          tag += c;
          mode = kTag;
        } else if (c == '!') {
          mode = kBang;
        } else if (c == '?') {
          mode = kSkip;
        } else {
          // "a < b": not a tag.
          mode = kText;
          Character('<', out);
          Byte(c, out);
        }
        return;
      case kTag:
        if (quote != 0) {
          if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '>') {
          Tag(out);
          return;
        }
        if (tag.size() < kMostTagBytes) tag += c;
        return;
      case kBang:
        if (c == '>') {
          mode = kText;
        } else if (c == '-' && tag.size() < 2) {
          tag += c;
          if (tag == "--") {
            dashes = 0;
            mode = kComment;
          }
        } else {
          mode = kSkip;  // a declaration such as <!DOCTYPE html>
        }
        return;
      case kComment:
        if (c == '>' && dashes >= 2) {
          mode = kText;
        } else {
          dashes = c == '-' ? dashes + 1 : 0;
        }
        return;
      case kSkip:
        if (c == '>') mode = kText;
        return;
      case kEntity:
        if (c == ';' && !tag.empty()) {
          mode = kText;
          Entity(out);
        } else if ((IsAlnum(c) || (c == '#' && tag.empty())) && tag.size() < kMostEntityBytes) {
          tag += c;
        } else {
          // Not an entity: the "&" and what followed it are text.
          mode = kText;
          Character('&', out);
          const std::string text = tag;
          for (char t : text) Character(t, out);
          Byte(c, out);
        }
        return;
      case kDropped:
        DroppedByte(c);
        return;
    }
  }
};

CHtmlToText::CHtmlToText(std::string_view charset) : m_state(std::make_unique<SState>(charset)) {}

CHtmlToText::~CHtmlToText() = default;

void CHtmlToText::Feed(std::string_view html, std::string& out) {
  for (char c : html) m_state->Byte(c, out);
}

void CHtmlToText::Finish(std::string& out) {
  if (m_state->mode == SState::kEntity) {
    m_state->mode = SState::kText;
    m_state->Character('&', out);
    const std::string text = m_state->tag;
    for (char c : text) m_state->Character(c, out);
  } else if (m_state->mode == SState::kTagOpen) {
    m_state->mode = SState::kText;
    m_state->Character('<', out);
  }
  if (m_state->hasText) out += '\n';
  const EEntityCharset charset = m_state->charset;
  *m_state = SState("");
  m_state->charset = charset;
}

void CHtmlToText::Reset() {
  const EEntityCharset charset = m_state->charset;
  *m_state = SState("");
  m_state->charset = charset;
}

std::string HtmlToText(std::string_view html, std::string_view charset) {
  CHtmlToText converter(charset);
  std::string out;
  converter.Feed(html, out);
  converter.Finish(out);
  return out;
}

long CHtmlTextSource::ReadSource(char* destination, size_t capacity) {
  while (m_offset == m_pending.size()) {
    m_pending.clear();
    m_offset = 0;
    if (m_finished) return 0;
    const std::string_view view = m_html.Peek();
    if (view.empty()) {
      if (m_html.Failed()) return -1;
      m_converter.Finish(m_pending);
      m_finished = true;
      continue;
    }
    m_converter.Feed(view, m_pending);
    m_html.Skip(view.size());
  }
  const size_t n = std::min(capacity, m_pending.size() - m_offset);
  std::memcpy(destination, m_pending.data() + m_offset, n);
  m_offset += n;
  return static_cast<long>(n);
}

bool CHtmlTextSource::RewindSource() {
  m_converter.Reset();
  m_pending.clear();
  m_offset = 0;
  m_finished = false;
  return m_html.Rewind();
}

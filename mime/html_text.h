// Plain text made from HTML: the text version of a message sent with an
// HTML version only. Tags are removed, block elements and <br> end lines,
// list items get a marker, a link is its text followed by its address in
// brackets, <script>, <style> and <title> are dropped, entities are decoded.
// It works on bytes and streams: bytes of 0x80 and above pass through, so
// the text keeps the HTML's charset; an entity is decoded only where that
// charset can hold its character, else kept as written. Broken markup never
// fails: a "<" that opens no tag is text, an unfinished tag at the end is
// dropped.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mime/byte_source.h"

class CHtmlToText {
 public:
  explicit CHtmlToText(std::string_view charset);
  ~CHtmlToText();
  // Converts the next bytes of the document, appending text to out.
  void Feed(std::string_view html, std::string& out);
  // Ends the document; a text that has any ends with one line break.
  void Finish(std::string& out);
  // Back to the state before the first Feed.
  void Reset();

 private:
  struct SState;
  std::unique_ptr<SState> m_state;
};

// The whole conversion in one call.
std::string HtmlToText(std::string_view html, std::string_view charset);

// The value of attribute name (letter case ignored) in the text of a tag
// without its "<" and ">" ("a href=x"), entities not decoded; false when
// the tag has none.
bool FindHtmlAttribute(std::string_view tag, std::string_view name, std::string& value);

// The text of the HTML read from html, as a source the encoders read.
class CHtmlTextSource : public CByteSource {
 public:
  CHtmlTextSource(CByteSource& html, std::string_view charset)
      : m_html(html), m_converter(charset) {}

 protected:
  long ReadSource(char* destination, size_t capacity) override;
  bool RewindSource() override;

 private:
  CByteSource& m_html;
  CHtmlToText m_converter;
  std::string m_pending;
  size_t m_offset = 0;
  bool m_finished = false;
};

// Arbitrary bytes through the HTML-to-text converter and the scanners of an
// HTML file.
//
// Input: one byte that picks the charset and the size of the pieces the
// document is fed in, then the document.
//
// Oracles: the text does not depend on how the document is cut into pieces;
// it is at most a bounded multiple of the document (list markers and link
// addresses are the only growth); it ends with a line break exactly when it
// has any text; bytes of 0x80 and above are never made up for an ASCII or
// unknown charset (they come only from the document); the cid: references
// do not depend on the cut either.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "mime/html_facts.h"
#include "mime/html_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static constexpr const char* kCharsets[] = {"utf-8", "iso-8859-1", "us-ascii", "x-unknown"};
  const std::string charset = kCharsets[data[0] & 3];
  const size_t piece = 1 + (data[0] >> 2);
  const std::string html(reinterpret_cast<const char*>(data + 1), size - 1);

  const std::string whole = HtmlToText(html, charset);
  CHtmlToText converter(charset);
  std::string cut;
  CCidScanner wholeScan;
  CCidScanner cutScan;
  wholeScan.Feed(html);
  for (size_t i = 0; i < html.size(); i += piece) {
    converter.Feed(std::string_view(html).substr(i, piece), cut);
    cutScan.Feed(std::string_view(html).substr(i, piece));
  }
  converter.Finish(cut);
  FUZZ_CHECK(cut == whole);
  FUZZ_CHECK(cutScan.References() == wholeScan.References());

  // A list item's marker (its indent bounded, its number at most ten
  // digits) comes once per "<li>"; a link's address is in the document.
  FUZZ_CHECK(whole.size() <= 10 * html.size() + 1);
  FUZZ_CHECK(whole.empty() || whole.back() == '\n');

  const bool eightBitAllowed = charset == "utf-8" || charset == "iso-8859-1";
  if (!eightBitAllowed) {
    const auto eightBit = [](char c) { return static_cast<unsigned char>(c) >= 0x80; };
    const bool documentHas = std::any_of(html.begin(), html.end(), eightBit);
    FUZZ_CHECK(documentHas || std::none_of(whole.begin(), whole.end(), eightBit));
  }
  (void)MetaCharset(html);
  return 0;
}

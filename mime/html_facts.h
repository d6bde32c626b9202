// What the composer learns from an HTML file before planning it: the
// charset its <meta> declares and the cid: references it makes to inline
// files.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The charset a <meta charset="..."> or <meta http-equiv="Content-Type"
// content="...; charset=..."> within head declares; empty when none does.
std::string MetaCharset(std::string_view head);

// Finds "cid:" references (letter case ignored) in a document fed in any
// pieces; a reference ends at a quote, a blank, ")", "<" or ">".
class CCidScanner {
 public:
  void Feed(std::string_view html);
  // Each reference once, in the order first found, percent-decoded (RFC 2392).
  const std::vector<std::string>& References() const { return m_references; }

 private:
  void End();

  size_t m_match = 0;  // bytes of "cid:" matched
  bool m_inReference = false;
  std::string m_reference;
  std::vector<std::string> m_references;
};

struct SHtmlFacts {
  std::string metaCharset;
  bool byteOrderMark = false;  // the file starts with UTF-8's
  std::vector<std::string> cidReferences;
};

// Reads the file at path once. False, with failure saying why, when it
// cannot be opened or read.
bool ScanHtmlFile(const std::string& path, SHtmlFacts& facts, std::string& failure);

// The content of the version information display, its text form and the
// two addresses of its actions. Pure: no terminal, no shell.
#pragma once

#include <string>
#include <utility>
#include <vector>

class CVersionInfo;

struct AboutContent {
  std::string title;           // "About <product name>"
  std::string productName;
  std::string productVersion;
  std::string copyright;
  std::string supportAddress;
  std::string docAddress;      // in the case it is stored in
  std::string binaryVersion;
  // (key, value) in display order, "N/A" for a missing key.
  std::vector<std::pair<std::string, std::string>> rows;
};

// Queries everything the display shows; docAddress is the product
// documentation web address.
AboutContent ReadAboutContent(CVersionInfo& info, const std::string& docAddress);

// The display as lines of text: title, name, version, copyright, the support
// and documentation addresses, then the Name/Value list in fitted columns.
std::string RenderAboutText(const AboutContent& content);

// "MAILTO:<support>?Subject=RE: <name> <version>.[BinVer <binary>]", with
// every piece inserted as it is.
std::string SupportMailAddress(const AboutContent& content);

// The documentation address in lower case; bytes outside ASCII are kept, so
// multi-byte characters pass unchanged.
std::string ProductInfoAddress(const AboutContent& content);

#include "about/about_text.h"

#include <algorithm>

#include "about/version_info.h"

namespace {

std::string Query(CVersionInfo& info, const char* key) {
  std::string value;
  info.QueryString(key, value);
  return value;
}

std::string Padded(const std::string& text, size_t width) {
  return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

}  // namespace

AboutContent ReadAboutContent(CVersionInfo& info, const std::string& docAddress) {
  AboutContent content;
  content.productName = Query(info, "ProductName");
  content.title = "About " + content.productName;
  content.productVersion = Query(info, "ProductVersion");
  content.supportAddress = Query(info, "X_TVSupport");
  content.copyright = Query(info, "LegalCopyright");
  content.docAddress = docAddress;
  content.binaryVersion = info.GetBinaryVersion();
  content.rows.emplace_back("ProductName", content.productName);
  for (const char* key :
       {"LegalCopyright", "CompanyName", "ProductVersion", "FileDescription", "FileVersion"}) {
    content.rows.emplace_back(key, Query(info, key));
  }
  return content;
}

std::string RenderAboutText(const AboutContent& content) {
  std::string text;
  text += content.title + "\n\n";
  text += content.productName + "\n";
  text += content.productVersion + "\n";
  text += content.copyright + "\n\n";
  text += "Support       " + content.supportAddress + "\n";
  text += "Product Info  " + content.docAddress + "\n\n";

  size_t nameWidth = 4;   // "Name"
  size_t valueWidth = 5;  // "Value"
  for (const auto& [key, value] : content.rows) {
    nameWidth = std::max(nameWidth, key.size());
    valueWidth = std::max(valueWidth, value.size());
  }
  text += Padded("Name", nameWidth) + "  Value\n";
  text += std::string(nameWidth, '-') + "  " + std::string(valueWidth, '-') + "\n";
  for (const auto& [key, value] : content.rows) {
    text += Padded(key, nameWidth) + "  " + value + "\n";
  }
  return text;
}

std::string SupportMailAddress(const AboutContent& content) {
  return "MAILTO:" + content.supportAddress + "?Subject=RE: " + content.productName + " " +
         content.productVersion + ".[BinVer " + content.binaryVersion + "]";
}

std::string ProductInfoAddress(const AboutContent& content) {
  std::string address = content.docAddress;
  for (char& c : address) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return address;
}

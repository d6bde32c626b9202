#include "platform/version_block.h"

#include <algorithm>

#include "product_config.h"

// A POSIX program file carries no version resource, so the block is built
// from the product definition the build generated. Its layout is a magic
// followed by values, one after another up to the end of the block:
//
//   "VVB1"                     4 bytes, once
//   name length n              16-bit, little-endian
//   name                       n bytes, the sub-block name
//   value length m             32-bit, little-endian
//   value                      m bytes
//
// Names and values are those a version resource answers (see the header).

namespace platform {
namespace {

constexpr char kMagic[] = {'V', 'V', 'B', '1'};
constexpr size_t kMagicSize = sizeof(kMagic);
constexpr char kRoot[] = "\\";
constexpr char kTranslation[] = "\\VarFileInfo\\Translation";

void PutLittleEndian(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutWord(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

uint32_t GetLittleEndian(const uint8_t* p, int bytes) {
  uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}

}  // namespace

bool LoadOwnVersionBlock(std::vector<uint8_t>& block) {
  const std::string translation = "040904B0";  // U.S. English, UTF-16 code page
  CVersionBlockBuilder builder;
  builder.SetFileVersion(VELSEND_VERSION_MAJOR, VELSEND_VERSION_MINOR, VELSEND_VERSION_PATCH, 0);
  builder.AddTranslation(0x0409, 1200);
  builder.AddString(translation, "ProductName", VELSEND_PRODUCT_NAME);
  builder.AddString(translation, "ProductVersion", VELSEND_PRODUCT_VERSION);
  builder.AddString(translation, "LegalCopyright", VELSEND_COPYRIGHT);
  builder.AddString(translation, "CompanyName", VELSEND_COMPANY_NAME);
  builder.AddString(translation, "FileDescription", VELSEND_DESCRIPTION);
  builder.AddString(translation, "FileVersion",
                    std::to_string(VELSEND_VERSION_MAJOR) + "." +
                        std::to_string(VELSEND_VERSION_MINOR) + "." +
                        std::to_string(VELSEND_VERSION_PATCH) + ".0");
  builder.AddString(translation, "X_TVSupport", VELSEND_SUPPORT_ADDRESS);
  block = builder.Build();
  return true;
}

bool QueryVersionValue(const std::vector<uint8_t>& block, const std::string& subBlock,
                       const uint8_t*& value, size_t& size) {
  if (block.size() < kMagicSize ||
      !std::equal(kMagic, kMagic + kMagicSize, block.begin())) {
    return false;
  }
  // Every length is checked against what is left, so a damaged block ends
  // the search instead of reading past its end.
  size_t pos = kMagicSize;
  const size_t end = block.size();
  while (end - pos >= 2) {
    const size_t nameSize = GetLittleEndian(&block[pos], 2);
    pos += 2;
    if (end - pos < nameSize) return false;
    const size_t namePos = pos;
    pos += nameSize;
    if (end - pos < 4) return false;
    const size_t valueSize = GetLittleEndian(&block[pos], 4);
    pos += 4;
    if (end - pos < valueSize) return false;
    if (subBlock.size() == nameSize &&
        std::equal(subBlock.begin(), subBlock.end(), block.begin() + namePos)) {
      value = block.data() + pos;
      size = valueSize;
      return true;
    }
    pos += valueSize;
  }
  return false;
}

void CVersionBlockBuilder::SetFileVersion(uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
  // Laid out as the fixed file information of a version resource, so that
  // the reader finds the file version at the same place on every platform.
  std::string fixed;
  PutWord(fixed, 0xFEEF04BD);                          // signature
  PutWord(fixed, 0x00010000);                          // structure version
  PutWord(fixed, (uint32_t{a} << 16) | b);             // file version, high
  PutWord(fixed, (uint32_t{c} << 16) | d);             // file version, low
  PutWord(fixed, (uint32_t{a} << 16) | b);             // product version, high
  PutWord(fixed, (uint32_t{c} << 16) | d);             // product version, low
  for (int i = 0; i < 7; ++i) PutWord(fixed, 0);       // flags, OS, type, date
  AddValue(kRoot, fixed);
}

void CVersionBlockBuilder::AddTranslation(uint16_t language, uint16_t codePage) {
  m_hasTranslations = true;
  PutWord(m_translations, (uint32_t{codePage} << 16) | language);
}

void CVersionBlockBuilder::AddString(const std::string& translation, const std::string& key,
                                     const std::string& value) {
  std::string bytes = value;
  bytes.push_back('\0');
  AddValue("\\StringFileInfo\\" + translation + "\\" + key, bytes);
}

void CVersionBlockBuilder::AddValue(const std::string& subBlock, const std::string& bytes) {
  m_values.emplace_back(subBlock, bytes);
}

std::vector<uint8_t> CVersionBlockBuilder::Build() const {
  std::vector<uint8_t> block(kMagic, kMagic + kMagicSize);
  auto put = [&block](const std::string& name, const std::string& bytes) {
    PutLittleEndian(block, static_cast<uint32_t>(name.size()), 2);
    block.insert(block.end(), name.begin(), name.end());
    PutLittleEndian(block, static_cast<uint32_t>(bytes.size()), 4);
    block.insert(block.end(), bytes.begin(), bytes.end());
  };
  if (m_hasTranslations) put(kTranslation, m_translations);
  for (const auto& [name, bytes] : m_values) put(name, bytes);
  return block;
}

}  // namespace platform

#include "about/version_info.h"

#include <cstdio>

#include "about/version_block.h"
#include "platform/version_block.h"
#include "product_config.h"

namespace {

constexpr size_t kFileVersionOffset = 8;

uint32_t ReadWord(const std::string& bytes, size_t at) {
  uint32_t word = 0;
  for (size_t i = 4; i-- > 0;) word = (word << 8) | static_cast<uint8_t>(bytes[at + i]);
  return word;
}

// The block a version resource would hold, from the product definition.
std::vector<uint8_t> ProductVersionBlock() {
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
  return builder.Build();
}

// The program file's own resource; where program files carry none, the
// product definition's block in its place.
bool LoadProgramVersionBlock(std::vector<uint8_t>& block) {
  if (platform::ProgramFilesCarryVersionResources()) {
    return platform::LoadOwnVersionResource(block);
  }
  block = ProductVersionBlock();
  return true;
}

}  // namespace

CVersionInfo::CVersionInfo() : m_loader(LoadProgramVersionBlock) {}

CVersionInfo::CVersionInfo(Loader loader) : m_loader(std::move(loader)) {}

bool CVersionInfo::LoadVersionData() {
  m_block.clear();
  m_binaryVersion.clear();
  m_translation.clear();
  std::vector<uint8_t> block;
  if (!m_loader || !m_loader(block) || block.empty()) return false;
  m_block = std::move(block);

  std::string value;
  if (QueryVersionValue(m_block, "\\", value) && value.size() >= kFileVersionOffset + 8) {
    m_fileVersionMS = ReadWord(value, kFileVersionOffset);
    m_fileVersionLS = ReadWord(value, kFileVersionOffset + 4);
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", m_fileVersionMS, m_fileVersionLS);
    m_binaryVersion = text;
  }
  // A table shorter than one entry counts as none rather than being read
  // past its end.
  if (QueryVersionValue(m_block, "\\VarFileInfo\\Translation", value) && value.size() >= 4) {
    char text[9];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X", static_cast<uint8_t>(value[1]),
                  static_cast<uint8_t>(value[0]), static_cast<uint8_t>(value[3]),
                  static_cast<uint8_t>(value[2]));
    m_translation = text;
  }
  return true;
}

bool CVersionInfo::EnsureLoaded() { return !m_block.empty() || LoadVersionData(); }

bool CVersionInfo::QueryString(const std::string& key, std::string& value) {
  value = "N/A";
  if (!EnsureLoaded() || m_translation.empty()) return false;
  std::string stored;
  if (!QueryVersionValue(m_block, "\\StringFileInfo\\" + m_translation + "\\" + key, stored)) {
    return false;
  }
  // The stored string ends at its NUL, or at the end of the value when a
  // damaged block lacks one.
  value = stored.substr(0, stored.find('\0'));
  return true;
}

const std::string& CVersionInfo::GetBinaryVersion() {
  EnsureLoaded();
  return m_binaryVersion;
}

const std::string& CVersionInfo::GetTranslation() {
  EnsureLoaded();
  return m_translation;
}

#include "about/version_info.h"

#include <cstdio>

#include "platform/version_block.h"

namespace {

constexpr size_t kFileVersionOffset = 8;

uint32_t ReadWord(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) |
         (uint32_t{p[3]} << 24);
}

}  // namespace

CVersionInfo::CVersionInfo() : m_loader(platform::LoadOwnVersionBlock) {}

CVersionInfo::CVersionInfo(Loader loader) : m_loader(std::move(loader)) {}

bool CVersionInfo::LoadVersionData() {
  m_block.clear();
  m_binaryVersion.clear();
  m_translation.clear();
  std::vector<uint8_t> block;
  if (!m_loader || !m_loader(block) || block.empty()) return false;
  m_block = std::move(block);

  const uint8_t* value = nullptr;
  size_t size = 0;
  if (platform::QueryVersionValue(m_block, "\\", value, size) &&
      size >= kFileVersionOffset + 8) {
    m_fileVersionMS = ReadWord(value + kFileVersionOffset);
    m_fileVersionLS = ReadWord(value + kFileVersionOffset + 4);
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", m_fileVersionMS, m_fileVersionLS);
    m_binaryVersion = text;
  }
  // A table shorter than one entry counts as none rather than being read
  // past its end.
  if (platform::QueryVersionValue(m_block, "\\VarFileInfo\\Translation", value, size) &&
      size >= 4) {
    char text[9];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X", value[1], value[0], value[3],
                  value[2]);
    m_translation = text;
  }
  return true;
}

bool CVersionInfo::EnsureLoaded() { return !m_block.empty() || LoadVersionData(); }

bool CVersionInfo::QueryString(const std::string& key, std::string& value) {
  value = "N/A";
  if (!EnsureLoaded() || m_translation.empty()) return false;
  const uint8_t* data = nullptr;
  size_t size = 0;
  if (!platform::QueryVersionValue(m_block, "\\StringFileInfo\\" + m_translation + "\\" + key,
                                   data, size)) {
    return false;
  }
  // The stored string ends at its NUL, or at the end of the value when a
  // damaged block lacks one.
  size_t length = 0;
  while (length < size && data[length] != 0) ++length;
  value.assign(reinterpret_cast<const char*>(data), length);
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

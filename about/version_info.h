// Reads the values of the program's version block.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CVersionInfo {
 public:
  // Fills the block and returns true, or returns false when there is none.
  using Loader = std::function<bool(std::vector<uint8_t>& block)>;

  // Reads the running program's own version block.
  CVersionInfo();
  explicit CVersionInfo(Loader loader);

  // The string stored under key and true; "N/A" and false when the block,
  // its translation table or the key is missing. Loads the block while it is
  // not loaded, so a failed load is tried again at the next query.
  bool QueryString(const std::string& key, std::string& value);

  // The file version as 16 lowercase hexadecimal digits; empty when the
  // block or its fixed file information cannot be read.
  const std::string& GetBinaryVersion();

  // The first translation entry as 8 uppercase hexadecimal digits, language
  // first ('040904B0'); empty when there is none.
  const std::string& GetTranslation();

  // Reads the block, its file version and its first translation entry;
  // false when there is no block.
  bool LoadVersionData();

 private:
  bool EnsureLoaded();

  Loader m_loader;
  std::vector<uint8_t> m_block;
  uint32_t m_fileVersionMS = 0;
  uint32_t m_fileVersionLS = 0;
  std::string m_binaryVersion;
  std::string m_translation;
};

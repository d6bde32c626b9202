// The program's own version block and the look-up of its values: the roles of
// GetFileVersionInfo and VerQueryValue, over a plain byte block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Reads the running program's version block into block; false when the
// program has none (block is then left empty).
bool LoadOwnVersionBlock(std::vector<uint8_t>& block);

// Finds a value of block by its sub-block name and points value/size at its
// bytes inside block; false when the block holds no such value. Names:
//   "\\"                          fixed file information: 32-bit words,
//                                 little-endian, the file version's most
//                                 significant word at byte 8, least at 12
//   "\\VarFileInfo\\Translation"  4-byte entries: 16-bit language, then
//                                 16-bit code page, each little-endian
//   "\\StringFileInfo\\<translation>\\<key>"  a NUL-terminated string
bool QueryVersionValue(const std::vector<uint8_t>& block, const std::string& subBlock,
                       const uint8_t*& value, size_t& size);

// Assembles a version block in this platform's layout: used for the
// program's own block and to give tests blocks of any shape.
// REQUIRES: sub-block names shorter than 64 KiB.
class CVersionBlockBuilder {
 public:
  // Adds the fixed file information with file version a.b.c.d.
  void SetFileVersion(uint16_t a, uint16_t b, uint16_t c, uint16_t d);
  // Appends one entry to the translation table (created on first use).
  void AddTranslation(uint16_t language, uint16_t codePage);
  // Adds a string under "\\StringFileInfo\\<translation>\\<key>".
  void AddString(const std::string& translation, const std::string& key,
                 const std::string& value);
  // Adds a value with raw bytes under any sub-block name.
  void AddValue(const std::string& subBlock, const std::string& bytes);

  std::vector<uint8_t> Build() const;

 private:
  std::vector<std::pair<std::string, std::string>> m_values;
  std::string m_translations;
  bool m_hasTranslations = false;
};

}  // namespace platform

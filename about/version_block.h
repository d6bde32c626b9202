// A version block in the layout of a Windows version resource (VS_VERSIONINFO):
// the look-up of its values, and an assembler for blocks of any shape.
//
// The block is a tree of nodes, all numbers little-endian:
//
//   16-bit length        the node with its children, in bytes
//   16-bit value length  in bytes, or in characters for a text value
//   16-bit type          1 text, 0 binary
//   key                  UTF-16, NUL-terminated, then padding to 4 bytes
//   value                then padding to 4 bytes
//   children
//
// Text is UTF-16; it is read and written one byte per character, so a byte
// string survives the round trip and a character above U+00FF reads as "?".
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Finds the value of block under subBlock and sets value to its bytes (a text
// value as its characters, with the NUL it stores); false when the block
// holds no such value or is damaged. Names are matched without regard to
// ASCII case, as the system's look-up does:
//   "\\"                          fixed file information: 32-bit words, the
//                                 file version's most significant word at
//                                 byte 8, its least at byte 12
//   "\\VarFileInfo\\Translation"  4-byte entries: 16-bit language, then
//                                 16-bit code page
//   "\\StringFileInfo\\<translation>\\<key>"  a NUL-terminated string
bool QueryVersionValue(const std::vector<uint8_t>& block, const std::string& subBlock,
                       std::string& value);

// Assembles a version block; a second value under one name comes after the
// first, which the look-up finds.
// REQUIRES: names and values shorter than 64 KiB in all.
class CVersionBlockBuilder {
 public:
  // Sets the fixed file information with file version a.b.c.d.
  void SetFileVersion(uint16_t a, uint16_t b, uint16_t c, uint16_t d);
  // Appends one entry to the translation table (created on first use).
  void AddTranslation(uint16_t language, uint16_t codePage);
  // Adds a text value under "\\StringFileInfo\\<translation>\\<key>".
  void AddString(const std::string& translation, const std::string& key,
                 const std::string& value);
  // Adds a binary value under any sub-block name ("\\" is the root's own).
  void AddValue(const std::string& subBlock, const std::string& bytes);

  std::vector<uint8_t> Build() const;

 private:
  struct Value {
    std::string subBlock;
    std::string bytes;
    bool text = false;
  };
  std::vector<Value> m_values;
  std::string m_translations;
  bool m_hasTranslations = false;
};

// The encoded lines of a large message text, kept in a private temporary
// file instead of memory, so that text of any size piped or typed costs a
// few blocks of memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "mime/line_list.h"

namespace platform {
class CSpoolFile;
}

// Finished lines from a CLineList that hands them on (HandTo): the first
// block that comes opens the spool file and every block is appended to it.
// Where no file can be made, the lines are kept in memory as before.
class CTextSpool : public CLineSink {
 public:
  CTextSpool();
  ~CTextSpool() override;
  CTextSpool(const CTextSpool&) = delete;
  CTextSpool& operator=(const CTextSpool&) = delete;

  void TakeLines(const CLineList& lines) override;

  // True once lines were written to the file (and so not kept in memory).
  bool Spooled() const { return m_file != nullptr; }
  // False once a write to the file failed: lines were lost.
  bool Whole() const { return m_whole; }
  // Lines taken in all.
  uint64_t LineCount() const { return m_lineCount; }
  // Lines kept in memory when no file could be made.
  CLineList& KeptLines() { return m_kept; }

  // Sends every spooled byte, in order, in blocks through send; lines begin
  // where they did. False on a read error.
  template <typename Send>
  bool ForEachBlock(Send send);

 private:
  bool Rewind();
  long Read(char* destination, size_t capacity);

  std::unique_ptr<platform::CSpoolFile> m_file;
  CLineList m_kept;
  uint64_t m_lineCount = 0;
  bool m_whole = true;
  bool m_noFile = false;  // a file was tried and could not be made
};

template <typename Send>
bool CTextSpool::ForEachBlock(Send send) {
  if (!Rewind()) return false;
  std::string block(64 * 1024, '\0');
  for (;;) {
    const long n = Read(block.data(), block.size());
    if (n < 0) return false;
    if (n == 0) return true;
    send(std::string_view(block.data(), static_cast<size_t>(n)));
  }
}

// Encoded lines kept in a private temporary file once they pass a size, so
// that a message text of any size costs a few blocks of memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "mime/line_list.h"

namespace platform {
class CTempFile;
}

class CLineSpool : public CLineSink {
 public:
  // Below this many bytes the lines stay in memory and no file is made.
  static constexpr size_t kSpoolAbove = 1024 * 1024;

  explicit CLineSpool(size_t spoolAbove = kSpoolAbove);
  ~CLineSpool() override;
  CLineSpool(const CLineSpool&) = delete;
  CLineSpool& operator=(const CLineSpool&) = delete;

  // REQUIRES: every line ends with LF and holds no other, as the lines of
  // quoted-printable and the other encodings do. After a failure the lines
  // are dropped.
  void TakeLines(const CLineList& lines) override;

  // True once the temporary file could not be written: the lines are then
  // incomplete. FailureText says why. A file that cannot be made leaves the
  // lines in memory.
  bool Failed() const { return !m_failure.empty(); }
  const std::string& FailureText() const { return m_failure; }
  // True when the lines went to the temporary file.
  bool IsSpooled() const { return m_file != nullptr; }
  // The lines taken while none went to the file; the spool keeps none.
  CLineList TakeHeld();
  uint64_t LineCount() const { return m_lineCount; }
  // Hands every line taken to sink, blockBytes at a time. False, with
  // FailureText set, when the file cannot be read back whole: sink may then
  // have had some of the lines, never the last ones.
  bool Replay(CLineSink& sink, size_t blockBytes) const;

 private:
  bool Spool(std::string_view bytes);

  size_t m_spoolAbove;
  CLineList m_held;
  std::unique_ptr<platform::CTempFile> m_file;
  uint64_t m_bytes = 0;
  uint64_t m_lineCount = 0;
  bool m_noFile = false;  // none could be made: every line stays held
  mutable std::string m_failure;
};

#include "mime/line_spool.h"

#include <string_view>

#include "platform/temp_file.h"

CLineSpool::CLineSpool(size_t spoolAbove) : m_spoolAbove(spoolAbove) {}

CLineSpool::~CLineSpool() = default;

void CLineSpool::TakeLines(const CLineList& lines) {
  if (Failed() || lines.empty()) return;
  m_lineCount += lines.size();
  const std::string_view bytes(lines[0].data(),
                               lines[lines.size() - 1].data() + lines[lines.size() - 1].size() -
                                   lines[0].data());
  m_bytes += bytes.size();
  if (!m_file && m_held.Bytes().size() + bytes.size() > m_spoolAbove && !m_noFile) {
    // Without a place for the file the lines stay in memory, as they always
    // did.
    std::string reason;
    m_file = platform::CreateTempFile(reason);
    m_noFile = m_file == nullptr;
    if (m_file) {
      const bool held = Spool(m_held.Bytes());
      m_held.clear();
      if (!held) return;
    }
  }
  if (!m_file) {
    for (size_t i = 0; i < lines.size(); ++i) m_held.push_back(lines[i]);
    return;
  }
  Spool(bytes);
}

bool CLineSpool::Spool(std::string_view bytes) {
  if (m_file->Append(bytes.data(), bytes.size())) return true;
  m_failure = m_file->FailureText();
  return false;
}

CLineList CLineSpool::TakeHeld() {
  CLineList held = std::move(m_held);
  m_held.clear();
  return held;
}

bool CLineSpool::Replay(CLineSink& sink, size_t blockBytes) const {
  if (!m_file) return false;
  CLineList block;
  block.HandTo(&sink, blockBytes);
  uint64_t offset = 0;
  uint64_t lines = 0;
  std::string buffer(64 * 1024, '\0');
  while (offset < m_bytes) {
    const long n = m_file->ReadAt(offset, buffer.data(), buffer.size());
    if (n <= 0) {
      m_failure = n < 0 ? m_file->FailureText() : "the temporary file is shorter";
      return false;
    }
    std::string_view chunk(buffer.data(), static_cast<size_t>(n));
    offset += chunk.size();
    for (size_t end; (end = chunk.find('\n')) != std::string_view::npos;) {
      block.Append(chunk.substr(0, end + 1));
      block.EndLine();
      ++lines;
      chunk.remove_prefix(end + 1);
    }
    block.Append(chunk);
  }
  // Checked before the last block goes, so that lines lost on the way never
  // pass for the whole text.
  if (lines != m_lineCount || !block.OpenLine().empty()) {
    m_failure = "the temporary file does not hold the lines written";
    return false;
  }
  block.HandOn();
  return true;
}

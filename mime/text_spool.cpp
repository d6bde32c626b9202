#include "mime/text_spool.h"

#include "platform/spool_file.h"

CTextSpool::CTextSpool() = default;
CTextSpool::~CTextSpool() = default;

void CTextSpool::TakeLines(const CLineList& lines) {
  m_lineCount += lines.size();
  if (!m_file && !m_noFile) {
    auto file = std::make_unique<platform::CSpoolFile>();
    std::string failure;
    if (file->Create(failure)) {
      m_file = std::move(file);
    } else {
      m_noFile = true;
    }
  }
  if (!m_file) {
    for (size_t i = 0; i < lines.size(); ++i) m_kept.push_back(lines[i]);
    return;
  }
  const std::string_view bytes = lines.Bytes();
  if (!m_file->Write(bytes.substr(0, bytes.size() - lines.OpenLine().size()))) m_whole = false;
}

bool CTextSpool::Rewind() { return m_file && m_file->Rewind(); }

long CTextSpool::Read(char* destination, size_t capacity) {
  return m_file->Read(destination, capacity);
}

#include "mime/byte_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/error_text.h"
#include "platform/file.h"
#include "platform/standard_input.h"

size_t CByteSource::Read(char* destination, size_t size) {
  size_t done = 0;
  while (done < size) {
    if (m_position == m_filled && !Refill()) break;
    size_t n = std::min(size - done, m_filled - m_position);
    std::memcpy(destination + done, m_buffer.data() + m_position, n);
    m_position += n;
    done += n;
  }
  return done;
}

bool CByteSource::Rewind() {
  if (!RewindSource()) return false;
  ResetBuffer();
  return true;
}

void CByteSource::SkipRestOfBreak(int first) {
  int rest = first == '\r' ? '\n' : '\r';
  while (PeekByte() == rest) ++m_position;
}

void CByteSource::SkipOpenBreak() {
  if (m_openBreak < 0) return;
  int first = m_openBreak;
  m_openBreak = -1;
  SkipRestOfBreak(first);
}

void CByteSource::ResetBuffer() {
  m_position = 0;
  m_filled = 0;
  m_ended = false;
  m_failed = false;
  m_openBreak = -1;
  m_failureText.clear();
}

bool CByteSource::Refill() {
  if (m_ended) return false;
  long n = ReadSource(m_buffer.data(), m_buffer.size());
  if (n <= 0) {
    // An error ends the input like its end does, but stays visible.
    m_ended = true;
    m_failed = n < 0;
    if (m_failed) NoteFailure(platform::ErrorNumberText(platform::LastErrorNumber()));
    return false;
  }
  m_position = 0;
  m_filled = static_cast<size_t>(n);
  return true;
}

bool CFileSource::Open(const std::string& path) {
  Close();
  ResetBuffer();
  // A directory opens for reading on some systems but cannot be read; a
  // device or pipe may never end.
  const platform::FileKind kind = platform::KindOfFile(path);
  if (kind == platform::FileKind::kDirectory) {
    NoteFailure(platform::ErrorNumberText(EISDIR));
    return false;
  }
  if (kind == platform::FileKind::kOther) {
    NoteFailure("not a regular file");
    return false;
  }
  m_file = platform::OpenForReading(path);
  if (m_file == nullptr) {
    NoteFailure(platform::ErrorNumberText(platform::LastErrorNumber()));
    return false;
  }
  m_size = platform::SizeOfFile(path);
  return true;
}

CFileSource::CFileSource(CFileSource&& other) noexcept
    : CByteSource(std::move(other)),
      m_file(std::exchange(other.m_file, nullptr)),
      m_size(std::exchange(other.m_size, -1)) {}

CFileSource& CFileSource::operator=(CFileSource&& other) noexcept {
  if (this == &other) return *this;
  Close();
  CByteSource::operator=(std::move(other));
  m_file = std::exchange(other.m_file, nullptr);
  m_size = std::exchange(other.m_size, -1);
  return *this;
}

void CFileSource::Close() {
  if (m_file) std::fclose(m_file);
  m_file = nullptr;
  m_size = -1;
}

long CFileSource::ReadSource(char* destination, size_t capacity) {
  if (!m_file) return -1;
  size_t n = std::fread(destination, 1, capacity, m_file);
  if (n == 0) return std::ferror(m_file) ? -1 : 0;
  return static_cast<long>(n);
}

bool CFileSource::RewindSource() {
  if (!m_file) return false;
  std::clearerr(m_file);
  return std::fseek(m_file, 0, SEEK_SET) == 0;
}

namespace {

class CStandardInputSource : public CByteSource {
 public:
  bool IsStandardInput() const override { return true; }

 protected:
  // One read of whatever has arrived: the input is typed or piped, and
  // waiting to fill the buffer would hold back a text that is complete.
  long ReadSource(char* destination, size_t capacity) override {
    return platform::ReadStandardInput(destination, capacity);
  }
  bool RewindSource() override { return false; }
};

}  // namespace

CByteSource& StandardInput() {
  static CStandardInputSource source;
  return source;
}

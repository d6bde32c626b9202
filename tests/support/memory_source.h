// Bytes in memory as a body source, for tests, fuzzing and benchmarks.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "mime/byte_source.h"

class CMemorySource : public CByteSource {
 public:
  // stdinLike gives the standard input's "." rule.
  explicit CMemorySource(std::string bytes, bool stdinLike = false)
      : m_bytes(std::move(bytes)), m_stdinLike(stdinLike) {}
  bool IsStandardInput() const override { return m_stdinLike; }
  long long SizeHint() const override { return static_cast<long long>(m_bytes.size()); }
  // Makes the read fail (not end) after failAfter bytes; -1 never fails.
  void FailAfter(long failAfter) { m_failAfter = failAfter; }

 protected:
  long ReadSource(char* destination, size_t capacity) override {
    size_t limit = m_bytes.size();
    if (m_failAfter >= 0) {
      if (m_offset >= static_cast<size_t>(m_failAfter)) return -1;
      limit = std::min(limit, static_cast<size_t>(m_failAfter));
    }
    const size_t n = std::min(capacity, limit - m_offset);
    if (n > 0) std::memcpy(destination, m_bytes.data() + m_offset, n);
    m_offset += n;
    return static_cast<long>(n);
  }
  bool RewindSource() override {
    m_offset = 0;
    return true;
  }

 private:
  std::string m_bytes;
  bool m_stdinLike;
  size_t m_offset = 0;
  long m_failAfter = -1;
};

#include "mime/line_list.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace {

// realloc that throws like new does, so that AddPart's out-of-memory path
// sees the same failure whichever container ran out.
template <typename T>
T* Resize(T* block, size_t count) {
  void* grown = std::realloc(block, count * sizeof(T));
  if (grown == nullptr) throw std::bad_alloc();
  return static_cast<T*>(grown);
}

}  // namespace

CLineList::~CLineList() {
  std::free(m_bytes);
  std::free(m_ends);
}

CLineList::CLineList(const CLineList& other) { *this = other; }

CLineList& CLineList::operator=(const CLineList& other) {
  if (this == &other) return *this;
  clear();
  Reserve(other.m_size, other.m_lineCount);
  if (other.m_size > 0) std::memcpy(m_bytes, other.m_bytes, other.m_size);
  if (other.m_lineCount > 0) std::memcpy(m_ends, other.m_ends, other.m_lineCount * sizeof *m_ends);
  m_size = other.m_size;
  m_lineCount = other.m_lineCount;
  m_wraps = other.m_wraps;
  return *this;
}

CLineList::CLineList(CLineList&& other) noexcept { *this = std::move(other); }

CLineList& CLineList::operator=(CLineList&& other) noexcept {
  if (this == &other) return *this;
  clear();
  m_bytes = std::exchange(other.m_bytes, nullptr);
  m_size = std::exchange(other.m_size, 0);
  m_capacity = std::exchange(other.m_capacity, 0);
  m_ends = std::exchange(other.m_ends, nullptr);
  m_lineCount = std::exchange(other.m_lineCount, 0);
  m_endCapacity = std::exchange(other.m_endCapacity, 0);
  m_wraps = std::move(other.m_wraps);
  other.m_wraps.clear();
  return *this;
}

void CLineList::clear() {
  std::free(m_bytes);
  std::free(m_ends);
  m_bytes = nullptr;
  m_ends = nullptr;
  m_size = m_capacity = m_lineCount = m_endCapacity = 0;
  m_wraps.clear();
}

void CLineList::Reserve(size_t bytes, size_t lines) {
  if (m_sink != nullptr) return;
  if (bytes > m_capacity) {
    m_bytes = Resize(m_bytes, bytes);
    m_capacity = bytes;
  }
  if (lines > m_endCapacity) {
    m_ends = Resize(m_ends, lines);
    m_endCapacity = lines;
  }
}

void CLineList::Grow(size_t more) {
  // Doubling: a large block is remapped rather than copied, and the part of
  // it not yet written is address space, not memory.
  size_t capacity = m_capacity < 4096 ? 4096 : m_capacity * 2;
  if (capacity - m_size < more) capacity = m_size + more;
  m_bytes = Resize(m_bytes, capacity);
  m_capacity = capacity;
}

void CLineList::GrowIndex(size_t more) {
  size_t capacity = m_endCapacity < 1024 ? 1024 : m_endCapacity * 2;
  if (capacity - m_lineCount < more) capacity = m_lineCount + more;
  m_ends = Resize(m_ends, capacity);
  m_endCapacity = capacity;
}

void CLineList::HandOn() {
  if (m_sink == nullptr || m_lineCount == 0) return;
  m_sink->TakeLines(*this);
  // An open line, if any, moves to the front of the emptied block.
  const size_t finished = End(m_lineCount - 1);
  const size_t open = m_size - finished;
  if (open > 0) std::memmove(m_bytes, m_bytes + finished, open);
  m_size = open;
  m_lineCount = 0;
  m_wraps.clear();
}

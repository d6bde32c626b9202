// A part's ready-to-send lines: every byte in one contiguous buffer and one
// 32-bit offset per line, so that a large part costs little more than its
// encoded bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

class CLineList {
 public:
  CLineList() = default;
  // offsetBits: the width of the stored offsets; only tests set it below 32,
  // to reach the wrap-around of offsets with little data.
  explicit CLineList(unsigned offsetBits) : m_offsetBits(offsetBits) {}
  ~CLineList();
  CLineList(const CLineList& other);
  CLineList& operator=(const CLineList& other);
  CLineList(CLineList&& other) noexcept;
  CLineList& operator=(CLineList&& other) noexcept;

  // Forgets every line and gives the memory back.
  void clear();
  bool empty() const { return m_lineCount == 0; }
  size_t size() const { return m_lineCount; }
  std::string_view operator[](size_t i) const {
    return std::string_view(m_bytes + LineBegin(i), End(i) - LineBegin(i));
  }
  // Appends one whole line (its line break included, as it goes on the wire).
  void push_back(std::string_view line) {
    Append(line);
    EndLine();
  }
  // For encoders that write a line in pieces: append to the open line...
  void Append(std::string_view piece) {
    char* to = AppendSpace(piece.size());
    if (!piece.empty()) std::memcpy(to, piece.data(), piece.size());
  }
  void Append(char c) { *AppendSpace(1) = c; }
  // ...or write n bytes of it in place at the returned address...
  char* AppendSpace(size_t n) {
    if (m_capacity - m_size < n) Grow(n);
    char* to = m_bytes + m_size;
    m_size += n;
    return to;
  }
  // ...then close it.
  void EndLine() {
    if (m_lineCount == m_endCapacity) GrowIndex(1);
    // 64-bit arithmetic: a shift by 32 is defined whatever the width of size_t.
    const uint64_t size = m_size;
    if ((size >> m_offsetBits) != m_wraps.size()) NoteWraps();
    m_ends[m_lineCount++] = static_cast<uint32_t>(size & ((uint64_t{1} << m_offsetBits) - 1));
  }
  // The bytes appended since the last EndLine.
  std::string_view OpenLine() const {
    size_t begin = m_lineCount == 0 ? 0 : End(m_lineCount - 1);
    return std::string_view(m_bytes + begin, m_size - begin);
  }
  // Forgets the bytes appended since the last EndLine.
  void DropOpenLine() { m_size = m_lineCount == 0 ? 0 : End(m_lineCount - 1); }
  // Every byte of every line, in order.
  std::string_view Bytes() const { return std::string_view(m_bytes, m_size); }
  // Room for this many bytes and lines in all, so that a part whose size is
  // known grows no more.
  void Reserve(size_t bytes, size_t lines);

 private:
  size_t End(size_t i) const {
    size_t high = 0;
    // Offsets past 4 GiB: the count of wraps at or before line i is the high part.
    while (high < m_wraps.size() && m_wraps[high] <= i) ++high;
    return static_cast<size_t>(uint64_t{high} << m_offsetBits | m_ends[i]);
  }
  size_t LineBegin(size_t i) const { return i == 0 ? 0 : End(i - 1); }
  void Grow(size_t more);
  void GrowIndex(size_t more);
  void NoteWraps();

  // Held with malloc and realloc: a large block then grows in place, without
  // a second copy of the part at the moment of growing.
  char* m_bytes = nullptr;
  size_t m_size = 0;
  size_t m_capacity = 0;
  uint32_t* m_ends = nullptr;  // low 32 bits of each line's end offset
  size_t m_lineCount = 0;
  size_t m_endCapacity = 0;
  std::vector<size_t> m_wraps;  // m_wraps[k]: first line ending at or past (k + 1) << m_offsetBits
  // A shift by a value's whole width is undefined (x86 shifts by 0): where
  // size_t has 32 bits, offsets keep 31 and the wrap count holds the rest.
  unsigned m_offsetBits = sizeof(size_t) > 4 ? 32 : 31;
};

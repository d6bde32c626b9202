// A part's ready-to-send lines: every byte in one contiguous buffer and one
// 32-bit offset per line, so that a large part costs little more than its
// encoded bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

// Offsets kept in fewer bits than they need: a line stores the low `bits`
// bits of its end offset, and wraps[k] is the first line whose end is at or
// past (k + 1) << bits, so the high part is the count of wraps at or before
// the line.
namespace wrapped_offset {

inline uint32_t Low(uint64_t end, unsigned bits) {
  return static_cast<uint32_t>(end & ((uint64_t{1} << bits) - 1));
}

// Records the boundaries that end, the end of line `line`, reaches.
inline void NoteWraps(std::vector<size_t>& wraps, uint64_t end, size_t line, unsigned bits) {
  while (wraps.size() < (end >> bits)) wraps.push_back(line);
}

// The whole end offset of line `line` from its stored low part.
inline uint64_t Join(const std::vector<size_t>& wraps, size_t line, uint32_t low, unsigned bits) {
  uint64_t high = 0;
  while (high < wraps.size() && wraps[high] <= line) ++high;
  return high << bits | low;
}

}  // namespace wrapped_offset

class CLineList;

// Takes the finished lines of a list that hands them on as it fills.
class CLineSink {
 public:
  virtual ~CLineSink() = default;
  // Every line of lines, in order; they are forgotten once this returns.
  virtual void TakeLines(const CLineList& lines) = 0;
};

class CLineList {
 public:
  CLineList() = default;
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
    if ((size >> kOffsetBits) != m_wraps.size()) {
      wrapped_offset::NoteWraps(m_wraps, size, m_lineCount, kOffsetBits);
    }
    m_ends[m_lineCount] = wrapped_offset::Low(size, kOffsetBits);
    ++m_lineCount;
    if (m_sink != nullptr && m_size >= m_blockBytes) HandOn();
  }
  // From now on the finished lines go to sink whenever they hold blockBytes
  // or more, and are forgotten: an encoding of any size then needs one
  // block of memory. nullptr keeps every line, as before.
  void HandTo(CLineSink* sink, size_t blockBytes) {
    m_sink = sink;
    m_blockBytes = blockBytes;
  }
  // Hands the finished lines still held to the sink, if there is one.
  void HandOn();
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
  // known grows no more. Nothing while the lines are handed on.
  void Reserve(size_t bytes, size_t lines);

 private:
  size_t End(size_t i) const {
    return static_cast<size_t>(wrapped_offset::Join(m_wraps, i, m_ends[i], kOffsetBits));
  }
  size_t LineBegin(size_t i) const { return i == 0 ? 0 : End(i - 1); }
  void Grow(size_t more);
  void GrowIndex(size_t more);

  // A shift by a value's whole width is undefined (x86 shifts by 0): where
  // size_t has 32 bits, offsets keep 31 and the wrap count holds the rest.
  static constexpr unsigned kOffsetBits = sizeof(size_t) > 4 ? 32 : 31;

  // Held with malloc and realloc: a large block then grows in place, without
  // a second copy of the part at the moment of growing.
  char* m_bytes = nullptr;
  size_t m_size = 0;
  size_t m_capacity = 0;
  uint32_t* m_ends = nullptr;  // low 32 bits of each line's end offset
  size_t m_lineCount = 0;
  size_t m_endCapacity = 0;
  std::vector<size_t> m_wraps;  // see wrapped_offset
  // Where finished lines go; not copied with the lines.
  CLineSink* m_sink = nullptr;
  size_t m_blockBytes = 0;
};

// A body source read by the encoders: a file or the standard input.
// Buffered, so that byte-wise reading costs no call per byte.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

class CByteSource {
 public:
  virtual ~CByteSource() = default;

  // The next byte as 0..255, or -1 at the end of input or after a read error.
  int ReadByte() {
    if (m_position == m_filled && !Refill()) return -1;
    return static_cast<unsigned char>(m_buffer[m_position++]);
  }
  // The byte ReadByte would return next, left in place.
  int PeekByte() {
    if (m_position == m_filled && !Refill()) return -1;
    return static_cast<unsigned char>(m_buffer[m_position]);
  }
  // Reads up to size bytes; fewer only at the end of input or on an error.
  size_t Read(char* destination, size_t size);
  // The buffered bytes not yet read, refilled when none are left; empty only
  // at the end of input. Valid until the next call that reads.
  std::string_view Peek() {
    if (m_position == m_filled && !Refill()) return std::string_view();
    return std::string_view(m_buffer.data() + m_position, m_filled - m_position);
  }
  // Marks the first n bytes that Peek showed as read.
  void Skip(size_t n) { m_position += n; }
  // The size of the whole source when it is known (a file), else -1; the
  // encoders reserve their output from it.
  virtual long long SizeHint() const { return -1; }
  // Back to the first byte; false when the source cannot go back.
  bool Rewind();
  // True for the process's standard input, which ends at a "." line.
  virtual bool IsStandardInput() const { return false; }
  // True once a read has failed (as opposed to ending) since the last Rewind.
  bool Failed() const { return m_failed; }
  // Why the source could not be opened or read ("Permission denied"); empty
  // while nothing failed.
  const std::string& FailureText() const { return m_failureText; }

  // Consumes the rest of a line break begun by first (CR or LF): every
  // immediately following byte that is the other one of the two.
  void SkipRestOfBreak(int first);
  // A text that ends at a "." line stops at the first byte of that line's
  // break, so as not to wait for more input; the next text read from this
  // source first drops the rest of that break (breakByte is CR or LF).
  void LeaveBreakOpen(int breakByte) { m_openBreak = breakByte; }
  void SkipOpenBreak();

 protected:
  CByteSource() = default;
  // Moved with the bytes read ahead; never copied (a source owns what it
  // reads from).
  CByteSource(CByteSource&&) noexcept = default;
  CByteSource& operator=(CByteSource&&) noexcept = default;

  // Forgets the buffered bytes and the end and error states.
  void ResetBuffer();
  // Reads up to capacity bytes: the count, 0 at the end, negative on error.
  virtual long ReadSource(char* destination, size_t capacity) = 0;
  virtual bool RewindSource() = 0;
  // Keeps the first reason given.
  void NoteFailure(const std::string& text) {
    if (m_failureText.empty()) m_failureText = text;
  }

 private:
  bool Refill();

  static constexpr size_t kBufferSize = 64 * 1024;
  std::string m_buffer = std::string(kBufferSize, '\0');
  size_t m_position = 0;
  size_t m_filled = 0;
  bool m_ended = false;
  bool m_failed = false;
  int m_openBreak = -1;
  std::string m_failureText;
};

// A file opened for binary reading. Move-only: it owns the open file.
class CFileSource : public CByteSource {
 public:
  CFileSource() = default;
  ~CFileSource() override { Close(); }
  CFileSource(CFileSource&& other) noexcept;
  CFileSource& operator=(CFileSource&& other) noexcept;
  // False, with FailureText saying why, when the path cannot be opened for
  // reading or is not a regular file.
  bool Open(const std::string& path);
  void Close();
  long long SizeHint() const override { return m_size; }

 protected:
  long ReadSource(char* destination, size_t capacity) override;
  bool RewindSource() override;

 private:
  std::FILE* m_file = nullptr;
  long long m_size = -1;
};

// The process's standard input; one object for the whole run, so that bytes
// read ahead by one message text stay available to the next.
CByteSource& StandardInput();

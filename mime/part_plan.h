// The first reading of a file, before the relay is contacted: the encoding
// is chosen and the bytes are fixed (their count and checksum), but the
// encoded lines are not kept. The data phase encodes the file again
// (mime/part_stream.h), so a part of any size needs a few blocks of memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "mime/byte_source.h"
#include "mime/checksum.h"

class CMessagePart;
namespace platform {
class CWriteGuard;
}

// How many bytes of finished lines an encoding holds before handing them on.
constexpr size_t kPartBlockBytes = 64 * 1024;

// The encoder call a file takes; the data phase makes the same one again.
// kQuotedPrintableWhole never gives up: the rule of the message text.
enum class EPartEncoder {
  kSevenBit,
  kSevenBitTerminated,
  kQuotedPrintable,
  kBase64,
  kUuencode,
  kQuotedPrintableWhole
};

// What a planned part encodes: the file's bytes, or the plain text made
// from the HTML the file holds (mime/html_text.h), in the part's charset.
enum class EPartSource { kFile, kHtmlText };

struct SPartPlan {
  EPartEncoder encoder = EPartEncoder::kBase64;
  EPartSource source = EPartSource::kFile;
  uint64_t size = 0;      // bytes read
  uint64_t checksum = 0;  // CChecksum of those bytes
  uint64_t lineCount = 0; // lines the encoder wrote
  // For a 7bit part, the boundary counters whose delimiter begins one of its
  // lines (for the message's boundary text).
  std::vector<uint32_t> boundaryCounters;
  // Keeps other programs from writing to the file until the part is gone,
  // where the system can.
  std::shared_ptr<platform::CWriteGuard> writeGuard;
};

// A file read through a running checksum, and never past limit bytes.
class CCheckedFileSource : public CFileSource {
 public:
  explicit CCheckedFileSource(uint64_t limit = UINT64_MAX) : m_limit(limit) {}
  // Bytes read and their checksum, since opening or the last rewind.
  uint64_t BytesRead() const { return m_read; }
  uint64_t Checksum() const { return m_checksum.Value(); }

 protected:
  long ReadSource(char* destination, size_t capacity) override;
  bool RewindSource() override;

 private:
  uint64_t m_limit;
  uint64_t m_read = 0;
  CChecksum m_checksum;
};

// Reads the file named by part.m_fileName and plans it into part.m_plan:
// the encoding by the message mode and the content type (which a message or
// multipart type that is not 7-bit text turns into octet-stream), each
// encoder's own rules deciding. boundaryText is the message's. False when
// the file cannot be opened or a read fails.
bool PlanFilePart(CMessagePart& part, bool uuencodeMode, bool forceUuencode,
                  std::string_view boundaryText, std::string& failure);

// Plans a message text read from the file part.m_fileName (or made from the
// HTML it holds), quoted-printable as the typed text always is. False when
// the file cannot be opened or a read fails.
bool PlanTextPart(CMessagePart& part, EPartSource source, std::string& failure);

// The source a planned part encodes, over file: file itself, or a source
// that makes text from its HTML. Held by holder when one is made.
CByteSource& PartSource(const CMessagePart& part, EPartSource source, CCheckedFileSource& file,
                        std::unique_ptr<CByteSource>& holder);

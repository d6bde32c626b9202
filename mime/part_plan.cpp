#include "mime/part_plan.h"
#include <new>
#include <optional>
#include <string>

#include "base/ascii_text.h"
#include "mime/base64.h"
#include "mime/boundary.h"
#include "mime/content_type_table.h"
#include "mime/html_text.h"
#include "mime/message_part.h"
#include "mime/uuencode.h"
#include "platform/write_guard.h"

namespace {

// Counts the lines of one encoding and notes the boundary counters they
// hold, without keeping them.
class CPlanSink : public CLineSink {
 public:
  explicit CPlanSink(std::string_view boundaryText) : m_counters(boundaryText) {}
  void TakeLines(const CLineList& lines) override {
    m_lineCount += lines.size();
    for (size_t i = 0; i < lines.size(); ++i) m_counters.NoteLine(lines[i]);
  }
  void Reset(std::string_view boundaryText) {
    m_lineCount = 0;
    m_counters = CBoundaryCounters(boundaryText);
  }
  uint64_t LineCount() const { return m_lineCount; }
  const CBoundaryCounters& Counters() const { return m_counters; }

 private:
  uint64_t m_lineCount = 0;
  CBoundaryCounters m_counters;
};

// Runs the encoders over the file with their lines handed to a sink that
// starts afresh with every attempt, so that it describes the last one.
class CPlanner {
 public:
  CPlanner(CMessagePart& part, CByteSource& source, CCheckedFileSource& file,
           std::string_view boundaryText)
      : m_part(part), m_source(source), m_file(file), m_boundaryText(boundaryText),
        m_sink(boundaryText) {}

  bool SevenBit(bool terminateLastLine) {
    Begin();
    return m_part.EncodeSevenBit(m_source, terminateLastLine);
  }
  bool QuotedPrintable() {
    Begin();
    return m_part.EncodeQuotedPrintable(m_source, true);
  }
  void QuotedPrintableWhole() {
    Begin();
    m_part.EncodeQuotedPrintable(m_source, false);
  }
  // Base64 and uuencode take any bytes and give one line per block: the
  // bytes are only read (and checked), the lines counted, not made.
  void Base64() {
    Begin();
    m_lineCount = ReadToEnd(kBase64LineBytes);
    m_part.m_encoding = "base64";
    m_part.m_uuencoded = false;
  }
  void Uuencode() {
    Begin();
    m_lineCount = ReadToEnd(kUuencodeLineBytes);
    m_part.m_encoding.clear();
    m_part.m_uuencoded = true;
  }
  bool Failed() const { return m_file.Failed() || m_source.Failed(); }
  // The lines still held go to the sink; the part keeps none.
  const CPlanSink& Finish() {
    m_part.m_lines.HandOn();
    m_part.m_lines.HandTo(nullptr, 0);
    m_part.m_lines.clear();
    return m_sink;
  }
  // The lines of the last encoding.
  uint64_t LineCount() const {
    return m_lineCount >= 0 ? static_cast<uint64_t>(m_lineCount) : m_sink.LineCount();
  }

 private:
  void Begin() {
    m_sink.Reset(m_boundaryText);
    m_part.m_lines.HandTo(&m_sink, kPartBlockBytes);
    m_lineCount = -1;
  }
  // Reads every byte left; the number of blocks of blockBytes they fill.
  long long ReadToEnd(size_t blockBytes) {
    uint64_t bytes = 0;
    for (std::string_view view = m_source.Peek(); !view.empty(); view = m_source.Peek()) {
      bytes += view.size();
      m_source.Skip(view.size());
    }
    return static_cast<long long>((bytes + blockBytes - 1) / blockBytes);
  }

  CMessagePart& m_part;
  CByteSource& m_source;
  CCheckedFileSource& m_file;
  std::string_view m_boundaryText;
  CPlanSink m_sink;
  long long m_lineCount = -1;  // counted by the sink when negative
};

// Chooses the encoding by the message mode. A non-text file in a MIME
// message goes straight to base64: 7bit and quoted-printable rewrite line
// breaks, which would alter it. A message or multipart body may not be
// base64 (RFC 2046), so it goes 7bit, or, when it is not 7-bit text, as
// opaque data under a type that allows base64.
void EncodeFile(CPlanner& planner, std::string& contentType, bool uuencodeMode,
                bool forceUuencode) {
  if (forceUuencode) {
    planner.Uuencode();
  } else if (uuencodeMode) {
    if (!planner.SevenBit(true) && !planner.Failed()) planner.Uuencode();
  } else if (StartsWithIgnoringCase(contentType, "text/")) {
    if (!planner.SevenBit(false) && !planner.Failed() && !planner.QuotedPrintable() &&
        !planner.Failed()) {
      planner.Base64();
    }
  } else if (StartsWithIgnoringCase(contentType, "message/") ||
             StartsWithIgnoringCase(contentType, "multipart/")) {
    if (!planner.SevenBit(false) && !planner.Failed()) {
      contentType = kDefaultContentType;
      planner.Base64();
    }
  } else {
    planner.Base64();
  }
}

EPartEncoder EncoderOf(const CMessagePart& part, bool uuencodeMode) {

  if (part.m_uuencoded) return EPartEncoder::kUuencode;
  if (part.m_encoding == "7bit") {
    return uuencodeMode ? EPartEncoder::kSevenBitTerminated : EPartEncoder::kSevenBit;
  }
  if (part.m_encoding == "quoted-printable") return EPartEncoder::kQuotedPrintable;
  return EPartEncoder::kBase64;
}

}  // namespace

long CCheckedFileSource::ReadSource(char* destination, size_t capacity) {
  const uint64_t left = m_limit - m_read;
  if (left == 0) return 0;
  if (capacity > left) capacity = static_cast<size_t>(left);
  const long n = CFileSource::ReadSource(destination, capacity);
  if (n > 0) {
    m_checksum.Update(destination, static_cast<size_t>(n));
    m_read += static_cast<uint64_t>(n);
  }
  return n;
}

bool CCheckedFileSource::RewindSource() {
  m_read = 0;
  m_checksum.Reset();
  return CFileSource::RewindSource();
}

namespace {

// Plans part.m_fileName with encode choosing the encoding; the plan keeps
// what the data phase needs to make the same lines again.
template <typename Encode>
bool PlanPart(CMessagePart& part, EPartSource source, std::string_view boundaryText,
              bool uuencodeMode, std::string& failure, Encode encode) {
  SPartPlan plan;
  // Taken before the first read, so that every byte read is guarded.
  plan.writeGuard = platform::GuardAgainstWriters(part.m_fileName);
  plan.source = source;
  CCheckedFileSource file;
  if (!file.Open(part.m_fileName)) {
    failure = file.FailureText();
    return false;
  }
  std::unique_ptr<CByteSource> holder;
  CByteSource& input = PartSource(part, source, file, holder);

  // The scan keeps little, but what it keeps (the lines of a text part's
  // encoding) may still not fit.
  std::optional<CPlanner> planner;
  try {
    planner.emplace(part, input, file, boundaryText);
    encode(*planner);
  } catch (const std::bad_alloc&) {
    failure = "not enough memory for a file of " + std::to_string(file.SizeHint()) + " bytes";
    return false;
  }
  const CPlanSink& sink = planner->Finish();
  plan.lineCount = planner->LineCount();
  if (file.Failed()) {
    failure = file.FailureText();
    return false;
  }

  plan.encoder = EncoderOf(part, uuencodeMode);
  plan.size = file.BytesRead();
  plan.checksum = file.Checksum();
  // Only 7bit lines can begin with a delimiter: quoted-printable writes "="
  // as "=3D", base64 and uuencode have no "[".
  if (plan.encoder == EPartEncoder::kSevenBit ||
      plan.encoder == EPartEncoder::kSevenBitTerminated) {
    plan.boundaryCounters = sink.Counters().Taken();
  }
  part.m_plan = std::move(plan);
  return true;
}

}  // namespace

bool PlanFilePart(CMessagePart& part, bool uuencodeMode, bool forceUuencode,
                  std::string_view boundaryText, std::string& failure) {
  return PlanPart(part, EPartSource::kFile, boundaryText, uuencodeMode, failure,
                  [&](CPlanner& planner) {
                    EncodeFile(planner, part.m_contentType, uuencodeMode, forceUuencode);
                  });
}

bool PlanTextPart(CMessagePart& part, EPartSource source, std::string& failure) {
  const bool planned = PlanPart(part, source, std::string_view(), false, failure,
                                [](CPlanner& planner) { planner.QuotedPrintableWhole(); });
  if (planned) part.m_plan->encoder = EPartEncoder::kQuotedPrintableWhole;
  return planned;
}

CByteSource& PartSource(const CMessagePart& part, EPartSource source, CCheckedFileSource& file,
                        std::unique_ptr<CByteSource>& holder) {
  if (source == EPartSource::kFile) return file;
  holder = std::make_unique<CHtmlTextSource>(file, part.m_charset);
  return *holder;
}

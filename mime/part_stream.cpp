#include "mime/part_stream.h"

#include <memory>

#include "mime/message_part.h"
#include "mime/part_plan.h"

namespace {

bool Encode(CMessagePart& part, CByteSource& source, EPartEncoder encoder) {
  switch (encoder) {
    case EPartEncoder::kSevenBit:
      return part.EncodeSevenBit(source, false);
    case EPartEncoder::kSevenBitTerminated:
      return part.EncodeSevenBit(source, true);
    case EPartEncoder::kQuotedPrintable:
      return part.EncodeQuotedPrintable(source, true);
    case EPartEncoder::kBase64:
      return part.EncodeBase64(source);
    case EPartEncoder::kUuencode:
      return part.EncodeUuencode(source);
    case EPartEncoder::kQuotedPrintableWhole:
      return part.EncodeQuotedPrintable(source, false);
  }
  return false;
}

}  // namespace

bool StreamPlannedPart(const CMessagePart& part, CLineSink& sink) {
  if (!part.m_plan) return false;
  const SPartPlan& plan = *part.m_plan;
  CCheckedFileSource file(plan.size);
  if (!file.Open(part.m_fileName)) return false;

  // The same encoder over the same bytes gives the same lines; one that now
  // declines the file (7bit, quoted-printable) has seen other bytes.
  std::unique_ptr<CByteSource> holder;
  CByteSource& source = PartSource(part, plan.source, file, holder);
  CMessagePart work;
  work.m_lines.HandTo(&sink, kPartBlockBytes);
  if (!Encode(work, source, plan.encoder) || file.Failed() || source.Failed()) return false;
  // Checked before the last block goes, so that a changed file never has
  // all of its lines sent.
  if (file.BytesRead() != plan.size || file.Checksum() != plan.checksum) return false;
  work.m_lines.HandOn();
  return true;
}

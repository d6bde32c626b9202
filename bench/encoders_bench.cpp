// Throughput of the four transfer encoders, in bytes of input per second,
// on inputs shaped like the end-to-end benchmark's files.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <random>
#include <string>

#include "mime/byte_source.h"
#include "mime/message_part.h"
#include "support/memory_source.h"

namespace {

constexpr size_t kInputBytes = 8 << 20;

std::string RandomBytes() {
  std::mt19937_64 random(1);
  std::string bytes(kInputBytes, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

// Printable ASCII lines of 40 to 100 characters; every highPerMille-th byte
// on average is above 0x7F.
std::string Text(int highPerMille) {
  std::mt19937_64 random(2);
  std::string text;
  text.reserve(kInputBytes + 128);
  while (text.size() < kInputBytes) {
    size_t length = 40 + random() % 61;
    for (size_t i = 0; i < length; ++i) {
      if (highPerMille > 0 && static_cast<int>(random() % 1000) < highPerMille) {
        text.push_back(static_cast<char>(0xA0 + random() % 0x60));
      } else {
        text.push_back(static_cast<char>(i % 7 == 6 ? ' ' : 'a' + random() % 26));
      }
    }
    text.push_back('\n');
  }
  return text;
}

template <typename Encode>
void Run(benchmark::State& state, const std::string& input, Encode encode) {
  for (auto _ : state) {
    CMemorySource source(input);
    CMessagePart part;
    if (!encode(part, source)) state.SkipWithError("the encoder declined its input");
    benchmark::DoNotOptimize(part.m_lines.size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(input.size()));
}

void SevenBit(benchmark::State& state) {
  static const std::string input = Text(0);
  Run(state, input, [](CMessagePart& p, CByteSource& s) { return p.EncodeSevenBit(s, false); });
}

void QuotedPrintable(benchmark::State& state) {
  static const std::string input = Text(10);
  Run(state, input,
      [](CMessagePart& p, CByteSource& s) { return p.EncodeQuotedPrintable(s, false); });
}

void Base64(benchmark::State& state) {
  static const std::string input = RandomBytes();
  Run(state, input, [](CMessagePart& p, CByteSource& s) { return p.EncodeBase64(s); });
}

void Uuencode(benchmark::State& state) {
  static const std::string input = RandomBytes();
  Run(state, input, [](CMessagePart& p, CByteSource& s) { return p.EncodeUuencode(s); });
}

}  // namespace

BENCHMARK(SevenBit)->Unit(benchmark::kMillisecond);
BENCHMARK(QuotedPrintable)->Unit(benchmark::kMillisecond);
BENCHMARK(Base64)->Unit(benchmark::kMillisecond);
BENCHMARK(Uuencode)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  // Every iteration frees and allocates its output again; keeping freed
  // memory in the process (instead of handing it back to the system and
  // faulting it in anew) makes the figures the encoders' own, free of the
  // page-fault cost, which a real run pays once per page of its output.
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

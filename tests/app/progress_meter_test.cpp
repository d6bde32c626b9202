#include "app/progress_meter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct SRun {
  std::string out;
  int64_t now = 1000;
};

CProgressMeter Meter(SRun& run, CProgressMeter::Style style, uint64_t total) {
  return CProgressMeter(
      style, total, [&run](const std::string& text) { run.out += text; },
      [&run] { return run.now; });
}

TEST(ProgressMeter, StateLine) {
  struct Case {
    uint64_t sent, total;
    int64_t elapsedMs;
    const char* line;
  } cases[] = {
      {0, 1000, 0, "Sent 0 of 1000 bytes (0%), 0 B/s"},
      {999, 1000, 1000, "Sent 999 of 1000 bytes (99%), 999 B/s"},
      {512000, 1024000, 500, "Sent 512000 of 1024000 bytes (50%), 1.0 MB/s"},
      {104857600, 104857600, 2000, "Sent 104857600 of 104857600 bytes (100%), 52.4 MB/s"},
      {1500, 1000, 1000, "Sent 1500 of 1500 bytes (100%), 1.5 kB/s"},  // never over 100 %
      {5000000000, 5000000000, 2000, "Sent 5000000000 of 5000000000 bytes (100%), 2.5 GB/s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(CProgressMeter::FormatState(c.sent, c.total, c.elapsedMs), c.line);
  }
}

TEST(ProgressMeter, InPlaceAtMostTenTimesASecondThenTheFinalState) {
  SRun run;
  CProgressMeter meter = Meter(run, CProgressMeter::kInPlace, 1000);
  meter.Sent(0);    // at 0 ms: written
  run.now += 50;
  meter.Sent(100);  // 50 ms later: too soon
  run.now += 50;
  meter.Sent(200);  // 100 ms: written
  run.now += 10;
  meter.Sent(1000);  // too soon, but the final state shows it
  meter.Finish();
  meter.Finish();  // once only
  EXPECT_EQ(run.out,
            "\rSent 0 of 1000 bytes (0%), 0 B/s"
            "\rSent 200 of 1000 bytes (20%), 2.0 kB/s"
            "\rSent 1000 of 1000 bytes (100%), 9.1 kB/s\n");
}

TEST(ProgressMeter, InPlaceLinePaddedOverALongerOne) {
  SRun run;
  CProgressMeter meter = Meter(run, CProgressMeter::kInPlace, 100000);
  meter.Sent(0);
  run.now += 1000;
  meter.Sent(99999);  // "99.999 kB/s" is longer than the final line's rate
  run.now += 1000000;
  meter.Finish();
  const std::string final = "\rSent 99999 of 100000 bytes (99%), 100 B/s";
  ASSERT_NE(run.out.find(final), std::string::npos);
  const std::string before = run.out.substr(0, run.out.find(final));
  const size_t longer = before.size() - before.rfind('\r') - 1;
  EXPECT_EQ(run.out.substr(run.out.find(final)),
            final + std::string(longer - (final.size() - 1), ' ') + "\n");
}

TEST(ProgressMeter, DecileLinesAndAFinalLineOnlyWhenCutShort) {
  struct Case {
    const char* what;
    std::vector<uint64_t> sent;
    std::vector<int> percents;  // of the lines written, the final one included
  } cases[] = {
      {"steady", {0, 50, 99, 100, 150, 250, 380, 420, 510, 640, 700, 800, 950, 1000},
       {10, 25, 38, 42, 51, 64, 70, 80, 95, 100}},
      {"one jump", {0, 1000}, {100}},
      {"cut short", {0, 330, 370}, {33, 37}},
      {"nothing sent", {0}, {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SRun run;
    CProgressMeter meter = Meter(run, CProgressMeter::kDeciles, 1000);
    for (uint64_t bytes : c.sent) {
      run.now += 7;
      meter.Sent(bytes);
    }
    meter.Finish();
    std::vector<int> percents;
    for (size_t at = 0; (at = run.out.find('(', at)) != std::string::npos; ++at) {
      percents.push_back(std::stoi(run.out.substr(at + 1)));
    }
    EXPECT_EQ(percents, c.percents) << run.out;
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
  }
}

TEST(ProgressMeter, NothingWhenTheDataNeverStarted) {
  SRun run;
  CProgressMeter meter = Meter(run, CProgressMeter::kInPlace, 1000);
  meter.Finish();
  EXPECT_EQ(run.out, "");
}

}  // namespace

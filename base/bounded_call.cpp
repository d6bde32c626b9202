#include "base/bounded_call.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <utility>

namespace {

// Shared by the caller and the thread, so that a call still running when the
// caller gave up writes into memory that lives until it ends.
struct SBoundedCall {
  std::atomic<bool> finished{false};
  bool succeeded = false;
  std::string result;
};

// How often the caller looks whether the call has ended. A flag read in short
// sleeps, not a condition variable: MinGW's condition variables have lost a
// wake-up under Wine and held the caller for ever.
constexpr std::chrono::milliseconds kPollInterval(5);

}  // namespace

bool CallWithin(int timeoutMs, std::function<bool(std::string&)> work, std::string& result) {
  if (timeoutMs < 0) {
    // No limit: nothing to wait beside, so no thread either.
    std::string found;
    if (!work(found)) return false;
    result = std::move(found);
    return true;
  }
  auto call = std::make_shared<SBoundedCall>();
  std::thread([call, work = std::move(work)] {
    std::string found;
    call->succeeded = work(found);
    call->result = std::move(found);
    call->finished.store(true, std::memory_order_release);
  }).detach();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!call->finished.load(std::memory_order_acquire)) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(deadline - now, kPollInterval));
  }
  if (!call->succeeded) return false;
  result = std::move(call->result);
  return true;
}

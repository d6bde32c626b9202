#include "base/bounded_call.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace {

// Shared by the caller and the thread, so that a call still running when the
// caller gave up writes into memory that lives until it ends.
struct SBoundedCall {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool succeeded = false;
  std::string result;
};

}  // namespace

bool CallWithin(int timeoutMs, std::function<bool(std::string&)> work, std::string& result) {
  auto call = std::make_shared<SBoundedCall>();
  std::thread([call, work = std::move(work)] {
    std::string found;
    const bool succeeded = work(found);
    std::lock_guard<std::mutex> lock(call->mutex);
    call->succeeded = succeeded;
    call->result = std::move(found);
    call->finished = true;
    call->done.notify_all();
  }).detach();
  std::unique_lock<std::mutex> lock(call->mutex);
  auto finished = [&call] { return call->finished; };
  if (timeoutMs < 0) {
    call->done.wait(lock, finished);
  } else if (!call->done.wait_for(lock, std::chrono::milliseconds(timeoutMs), finished)) {
    return false;
  }
  if (!call->succeeded) return false;
  result = call->result;
  return true;
}

// An in-memory peer for CLineSocket: plays scripted chunks of reply bytes and
// records every byte the client sends.
#pragma once

#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "net/byte_stream.h"

class CMemoryStream : public CByteStream {
 public:
  struct Shared {
    std::deque<std::string> chunks;  // each Receive hands out at most one chunk
    std::string sent;                // everything the client sent
    bool timeoutAtEnd = false;       // after the chunks: time out instead of closing
    bool closed = false;
    long sendCapacity = -1;          // fail sends beyond this many bytes; -1 unlimited
    // A zero-time receive (a poll for bytes already waiting) finds the next
    // chunk only when set: a scripted peer otherwise answers only once asked.
    bool answersAhead = false;
    // As answersAhead, from the chunk of this index on (a relay that talks
    // out of turn at one point of the dialogue only).
    size_t answersAheadFrom = static_cast<size_t>(-1);
    size_t chunksTaken = 0;
    size_t frontTaken = 0;           // bytes of the first chunk already handed out
    // What the client sent before each wait for the peer that followed new
    // sends: the grouping of commands on the wire.
    std::vector<std::string> sentBeforeReads;
    size_t sentRecorded = 0;
  };

  explicit CMemoryStream(std::shared_ptr<Shared> shared) : m_shared(std::move(shared)) {}

  bool SendAll(const char* data, size_t size, int) override {
    if (m_shared->sendCapacity >= 0 &&
        m_shared->sent.size() + size > static_cast<size_t>(m_shared->sendCapacity)) {
      return false;
    }
    m_shared->sent.append(data, size);
    return true;
  }

  long Receive(char* buffer, size_t size, int timeoutMs) override {
    if (timeoutMs != 0 && m_shared->sent.size() > m_shared->sentRecorded) {
      m_shared->sentBeforeReads.push_back(m_shared->sent.substr(m_shared->sentRecorded));
      m_shared->sentRecorded = m_shared->sent.size();
    }
    auto& chunks = m_shared->chunks;
    if (chunks.empty()) return m_shared->timeoutAtEnd ? kReceiveTimeout : 0;
    if (timeoutMs == 0 && !m_shared->answersAhead &&
        m_shared->chunksTaken < m_shared->answersAheadFrom) {
      return kReceiveTimeout;
    }
    // Taken by an offset, not erased: a large chunk would cost quadratic time.
    const std::string& front = chunks.front();
    size_t& taken = m_shared->frontTaken;
    size_t n = front.size() - taken < size ? front.size() - taken : size;
    std::memcpy(buffer, front.data() + taken, n);
    taken += n;
    if (taken == front.size()) {
      chunks.pop_front();
      taken = 0;
      ++m_shared->chunksTaken;
    }
    return static_cast<long>(n);
  }

  int Close() override {
    m_shared->closed = true;
    return 0;
  }

 private:
  std::shared_ptr<Shared> m_shared;
};

// Makes a scripted peer: the returned Shared is kept by the test to add
// replies and read what was sent.
inline std::shared_ptr<CMemoryStream::Shared> MakePeer(std::deque<std::string> chunks = {}) {
  auto shared = std::make_shared<CMemoryStream::Shared>();
  shared->chunks = std::move(chunks);
  return shared;
}

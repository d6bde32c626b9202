// The byte pipe under a line connection: a TCP socket in the program, an
// in-memory script in tests.
#pragma once

#include <cstddef>

class CByteStream {
 public:
  static constexpr long kReceiveError = -1;
  static constexpr long kReceiveTimeout = -2;

  virtual ~CByteStream() = default;

  // Sends every byte of data, looping over partial sends and interruptions.
  // False on an error, a closed peer, or when no byte could be sent for
  // timeoutMs milliseconds (a negative timeout waits for ever).
  virtual bool SendAll(const char* data, size_t size, int timeoutMs) = 0;

  // Receives at most size bytes: the count (> 0), 0 when the peer has
  // closed, kReceiveError, or kReceiveTimeout after timeoutMs of silence.
  virtual long Receive(char* buffer, size_t size, int timeoutMs) = 0;

  // Releases the stream; returns the platform's close result (0 = clean).
  virtual int Close() = 0;
};

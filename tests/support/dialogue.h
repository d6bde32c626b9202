// Runs one dialogue step of a fresh client against a scripted peer and
// keeps everything a test compares.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "smtp/smtp_client.h"
#include "support/fake_environment.h"
#include "support/memory_stream.h"

struct SDialogueOutcome {
  bool result = false;
  std::string sent;       // every byte the client sent
  std::string trace;      // standard error, the closing line included
  std::string localName;  // the name the client greets with
};

// step runs on a client (quiet or tracing) whose peer plays replies; the
// connection is closed before the trace is taken.
inline SDialogueOutcome RunDialogue(std::deque<std::string> replies,
                                    const std::function<bool(CSmtpClient&)>& step,
                                    bool quiet = false) {
  auto peer = MakePeer(std::move(replies));
  SDialogueOutcome outcome;
  testing::internal::CaptureStderr();
  {
    CFakeEnvironment environment;
    CSmtpClient client(quiet, environment);
    client.AttachStream(std::make_unique<CMemoryStream>(peer));
    outcome.result = step(client);
    outcome.localName = client.GetLocalHostName();
    client.Close();
  }
  outcome.trace = testing::internal::GetCapturedStderr();
  outcome.sent = peer->sent;
  return outcome;
}

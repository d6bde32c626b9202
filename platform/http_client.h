// HTTPS requests to an OAuth 2.0 authorization server: a form POST or a GET,
// bounded in time, certificates and names always verified. libcurl on POSIX
// systems, WinHTTP on Windows.
#pragma once

#include <string>

#include "platform/tls.h"

namespace platform {

struct HttpRequest {
  std::string url;
  // application/x-www-form-urlencoded body; empty means GET.
  std::string form;
  // A PEM file of extra trusted roots (tests); empty trusts the system's.
  std::string caFile;
  // Whole-request bound; 0 leaves the library's default.
  int timeoutMs = 0;
};

enum class HttpOutcome {
  Answered,            // status and body hold the server's answer
  CertificateFailed,   // the server's certificate or name was refused
  TimedOut,
  Failed,              // no answer: resolution, connection, protocol
};

struct HttpResponse {
  HttpOutcome outcome = HttpOutcome::Failed;
  int status = 0;
  std::string body;
  // Why there is no answer, for the user; never holds the request's body.
  std::string error;
  // Where this program refused the server's certificate itself (WinHTTP with
  // a CA file): what it found, worded by net/tls_failure.h; error is empty.
  TlsFailure certificate;
};

HttpResponse HttpSend(const HttpRequest& request);

}  // namespace platform

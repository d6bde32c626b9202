// The SChannel client's check of a server's certificate (platform/
// tls_schannel.cpp), shared with the WinHTTP client of the token requests so
// that --cacert and oauth-cacert mean the same thing. Windows files only.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

namespace platform {

// The chain to a root of caFile (or the system's when empty), dates, purpose
// and host's name; false with reason as for a relay.
bool VerifyServerCertificate(const CERT_CONTEXT* leaf, const std::string& caFile,
                             const std::string& host, std::string& reason);

}  // namespace platform

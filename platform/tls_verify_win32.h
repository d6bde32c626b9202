// The check of a server's certificate on Windows: the SChannel client's of a
// relay (platform/tls_schannel.cpp), shared with the WinHTTP client of the
// token requests so that --cacert and oauth-cacert mean the same thing.
// Windows files only.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/tls.h"

namespace platform {

// A system status or flag word as the failures show it: "0x80090326".
inline std::string HexCode(unsigned long status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", status);
  return text;
}

struct CertStoreCloser {
  void operator()(void* store) const { CertCloseStore(static_cast<HCERTSTORE>(store), 0); }
};
using CertStore = std::unique_ptr<void, CertStoreCloser>;

// Every certificate of a PEM file, in a new in-memory store; null with
// failure set when the file cannot be read or holds none.
CertStore LoadPemCertificates(const std::string& path, TlsFailure& failure);

// The chain from leaf to a trusted root (one of anchors, or the system's
// when anchors is null), the dates, the purpose and host's name; false with
// failure set.
bool VerifyRelayCertificate(const CERT_CONTEXT* leaf, HCERTSTORE anchors, const std::string& host,
                            TlsFailure& failure);

// The same with the roots of caFile (the system's when empty).
bool VerifyServerCertificate(const CERT_CONTEXT* leaf, const std::string& caFile,
                             const std::string& host, TlsFailure& failure);

}  // namespace platform

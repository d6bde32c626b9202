// Test helper: the Windows TLS client driven on its own, under Wine, before
// and beside the program's use of it (tests/e2e/test_schannel.py).
//
//   tls_probe connect NAME PORT [--cacert=FILE] [--insecure] [--timeout=MS]
//             [--echo=BYTES]
//       Connects to 127.0.0.1:PORT and runs the handshake, verifying the
//       certificate for NAME. Prints "ok PROTOCOL|CIPHER" or "fail REASON".
//       With --echo, then sends BYTES bytes of a fixed pattern, reads as many
//       back and compares them ("echo ok" or "echo FAULT"), reads on until
//       the peer's close_notify ("eof"), and closes with its own.
//       Exit status 0 when every step succeeded.
//   tls_probe addroot FILE | delroot FILE
//       Adds the PEM certificates of FILE to the current user's trusted
//       roots, or removes them.
//   tls_probe version
//       Prints the TLS library's version.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/socket.h"
#include "net/tls_failure.h"
#include "platform/tls.h"

namespace {

char PatternByte(size_t i) { return static_cast<char>((i * 131 + (i >> 11)) & 0xff); }

int Connect(int argc, char** argv) {
  if (argc < 4) return 2;
  platform::TlsOptions options;
  options.hostName = argv[2];
  const uint16_t port = static_cast<uint16_t>(std::atoi(argv[3]));
  int timeoutMs = 10000;
  long echo = -1;
  for (int i = 4; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.rfind("--cacert=", 0) == 0) options.caFile = arg.substr(9);
    else if (arg == "--insecure") options.verify = false;
    else if (arg.rfind("--timeout=", 0) == 0) timeoutMs = std::atoi(arg.c_str() + 10);
    else if (arg.rfind("--echo=", 0) == 0) echo = std::atol(arg.c_str() + 7);
    else return 2;
  }
  if (platform::StartSocketLibrary() != 0) return 3;
  auto socket = platform::CSocketStream::Create(platform::SAddress::kIPv4);
  platform::SAddress loopback;
  loopback.family = platform::SAddress::kIPv4;
  loopback.bytes[0] = 127;
  loopback.bytes[3] = 1;
  platform::ConnectError error;
  std::string text;
  if (!socket ||
      !socket->Connect(loopback, platform::HostToNetwork16(port), timeoutMs, error, text)) {
    std::printf("fail cannot connect\n");
    return 1;
  }
  platform::TlsSessionInfo info;
  platform::TlsFailure failure;
  const int64_t started = platform::MonotonicMs();
  auto tls = platform::StartTlsClient(std::move(socket), options, timeoutMs, info, failure);
  const long long elapsed = platform::MonotonicMs() - started;
  if (!tls) {
    std::printf("fail %s\nelapsed %lld\n", TlsFailureText(failure).c_str(), elapsed);
    return 1;
  }
  std::printf("ok %s|%s\nelapsed %lld\n", info.protocol.c_str(), info.cipher.c_str(), elapsed);
  std::fflush(stdout);
  int status = 0;
  if (echo >= 0) {
    std::vector<char> data(static_cast<size_t>(echo));
    for (size_t i = 0; i < data.size(); ++i) data[i] = PatternByte(i);
    if (!tls->SendAll(data.data(), data.size(), timeoutMs)) {
      std::printf("echo send failed\n");
      return 1;
    }
    std::vector<char> back;
    char buffer[70000];
    while (back.size() < data.size()) {
      long got = tls->Receive(buffer, sizeof buffer, timeoutMs);
      if (got <= 0) break;
      back.insert(back.end(), buffer, buffer + got);
    }
    if (back == data) {
      std::printf("echo ok\n");
    } else {
      std::printf("echo FAULT: %zu bytes of %zu back\n", back.size(), data.size());
      status = 1;
    }
    long end = tls->Receive(buffer, sizeof buffer, timeoutMs);
    std::printf(end == 0 ? "eof\n" : "no eof (%ld)\n", end);
    if (end != 0) status = 1;
  }
  tls->Close();
  platform::StopSocketLibrary();
  return status;
}

std::vector<std::vector<BYTE>> ReadPem(const char* path) {
  std::ifstream file(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<std::vector<BYTE>> certificates;
  const std::string end = "-----END CERTIFICATE-----";
  for (size_t at = text.find("-----BEGIN CERTIFICATE-----"); at != std::string::npos;
       at = text.find("-----BEGIN CERTIFICATE-----", at + 1)) {
    std::string block = text.substr(at, text.find(end, at) + end.size() - at);
    DWORD size = 0;
    CryptStringToBinaryA(block.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr,
                         nullptr);
    std::vector<BYTE> der(size);
    if (size && CryptStringToBinaryA(block.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(),
                                     &size, nullptr, nullptr)) {
      certificates.push_back(der);
    }
  }
  return certificates;
}

// The change is written out only when the store is closed.
int ChangeRoots(const char* path, bool add) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                   CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  if (!store) return 3;
  int changed = 0;
  for (const std::vector<BYTE>& der : ReadPem(path)) {
    const CERT_CONTEXT* cert = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                            static_cast<DWORD>(der.size()));
    if (!cert) continue;
    if (add) {
      if (CertAddCertificateContextToStore(store, cert, CERT_STORE_ADD_REPLACE_EXISTING,
                                           nullptr)) {
        ++changed;
      }
    } else {
      const CERT_CONTEXT* found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                             CERT_FIND_EXISTING, cert, nullptr);
      if (found && CertDeleteCertificateFromStore(found)) ++changed;  // frees found
    }
    CertFreeCertificateContext(cert);
  }
  if (!CertCloseStore(store, 0)) return 3;
  std::printf("%s %d\n", add ? "added" : "removed", changed);
  return changed > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  if (command == "connect") return Connect(argc, argv);
  if ((command == "addroot" || command == "delroot") && argc == 3) {
    return ChangeRoots(argv[2], command == "addroot");
  }
  if (command == "version") {
    std::printf("%s\n", platform::TlsLibraryVersion().c_str());
    return 0;
  }
  std::fprintf(stderr, "usage: tls_probe connect|addroot|delroot|version ...\n");
  return 2;
}

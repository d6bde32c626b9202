#include "platform/tls_schannel_setup_win32.h"

#include <cstdio>
#include <vector>

#include "platform/tls_verify_win32.h"

namespace platform {
namespace {

// SChannel never checks the relay here: the program does it itself, the same
// way on every system (under Wine the library's own checks accept anything).
constexpr DWORD kCredentialFlags =
    SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;

// What a failed handshake step's status says, in the system-neutral terms.
TlsFailureKind StepFailureKind(SECURITY_STATUS status) {
  switch (status) {
    case SEC_E_ALGORITHM_MISMATCH:
    case SEC_E_UNSUPPORTED_FUNCTION:
      return TlsFailureKind::kOldProtocol;
    case SEC_E_ILLEGAL_MESSAGE:
      return TlsFailureKind::kBrokenOff;
    case SEC_E_INVALID_TOKEN:
      return TlsFailureKind::kNotTls;
    case SEC_E_MESSAGE_ALTERED:
    case SEC_E_DECRYPT_FAILURE:
      return TlsFailureKind::kCorrupted;
    default:
      return TlsFailureKind::kHandshake;
  }
}

}  // namespace

std::string ProtocolName(DWORD protocol) {
  if (protocol & SP_PROT_TLS1_3_CLIENT) return "TLS 1.3";
  if (protocol & SP_PROT_TLS1_2_CLIENT) return "TLS 1.2";
  if (protocol & SP_PROT_TLS1_1_CLIENT) return "TLS 1.1";
  if (protocol & SP_PROT_TLS1_0_CLIENT) return "TLS 1.0";
  return "protocol " + HexCode(protocol);
}

// The cipher suite's standard name. Wine names the hash of an AEAD suite
// "<unknown>": that hash is SHA-384 for AES-256-GCM, SHA-256 for the others.
std::string SuiteName(const std::string& name) {
  const size_t unknown = name.find("_<unknown>");
  if (unknown == std::string::npos) return name.empty() ? "unknown cipher" : name;
  const std::string base = name.substr(0, unknown);
  auto endsWith = [&base](const std::string& tail) {
    return base.size() >= tail.size() &&
           base.compare(base.size() - tail.size(), tail.size(), tail) == 0;
  };
  if (endsWith("_AES_256_GCM")) return base + "_SHA384";
  if (endsWith("_AES_128_GCM") || endsWith("_CHACHA20_POLY1305")) return base + "_SHA256";
  return base;
}

TlsFailure FailureBeforeHandshakeStep(const std::string& in) {
  if (in.empty()) return {};
  const auto byte = [&in](size_t i) { return static_cast<unsigned char>(in[i]); };
  if (byte(0) < 20 || byte(0) > 23 || (in.size() >= 2 && byte(1) != 3)) {
    return {TlsFailureKind::kNotTls};
  }
  const bool fatalAlert = byte(0) == kAlertRecord && in.size() >= 7 && byte(3) == 0 &&
                          byte(4) == 2 && byte(5) == 2;
  if (!fatalAlert) return {};
  if (byte(6) == 70) return {TlsFailureKind::kOldProtocol};  // protocol_version
  return {TlsFailureKind::kBrokenOff, "alert " + std::to_string(byte(6))};
}

TlsFailure StepFailure(SECURITY_STATUS status) {
  const TlsFailureKind kind = StepFailureKind(status);
  const bool coded = kind == TlsFailureKind::kHandshake;
  return {kind, coded ? "error " + HexCode(static_cast<unsigned long>(status)) : ""};
}

bool AcquireCredentials(CredHandle& credentials, SECURITY_STATUS& status) {
  TimeStamp expiry;
  // Systems that know TLS 1.3 take SCH_CREDENTIALS, where the versions
  // below TLS 1.2 are switched off; older ones take SCHANNEL_CRED, where
  // TLS 1.2 is switched on alone.
  TLS_PARAMETERS parameters = {};
  parameters.grbitDisabledProtocols = static_cast<DWORD>(~kAcceptedProtocols);
  SCH_CREDENTIALS modern = {};
  modern.dwVersion = SCH_CREDENTIALS_VERSION;
  modern.dwFlags = kCredentialFlags;
  modern.cTlsParameters = 1;
  modern.pTlsParameters = &parameters;
  status = AcquireCredentialsHandleW(nullptr, const_cast<SEC_WCHAR*>(UNISP_NAME_W),
                                     SECPKG_CRED_OUTBOUND, nullptr, &modern, nullptr, nullptr,
                                     &credentials, &expiry);
  if (status == SEC_E_OK) return true;
  SCHANNEL_CRED legacy = {};
  legacy.dwVersion = SCHANNEL_CRED_VERSION;
  legacy.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
  legacy.dwFlags = kCredentialFlags;
  status = AcquireCredentialsHandleW(nullptr, const_cast<SEC_WCHAR*>(UNISP_NAME_W),
                                     SECPKG_CRED_OUTBOUND, nullptr, &legacy, nullptr, nullptr,
                                     &credentials, &expiry);
  return status == SEC_E_OK;
}


std::string TlsLibraryVersion() {
  std::string version = "Schannel";
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(L"schannel.dll", &ignored);
  if (size == 0) return version;
  std::vector<char> block(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (GetFileVersionInfoW(L"schannel.dll", 0, size, block.data()) &&
      VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed &&
      length >= sizeof *fixed) {
    char number[64];
    std::snprintf(number, sizeof number, " %u.%u.%u.%u",
                  static_cast<unsigned>(HIWORD(fixed->dwFileVersionMS)),
                  static_cast<unsigned>(LOWORD(fixed->dwFileVersionMS)),
                  static_cast<unsigned>(HIWORD(fixed->dwFileVersionLS)),
                  static_cast<unsigned>(LOWORD(fixed->dwFileVersionLS)));
    version += number;
  }
  return version;
}

}  // namespace platform

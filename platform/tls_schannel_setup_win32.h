// SChannel's side of the Windows TLS client: the credentials it starts from
// and what its answers mean, for the stream in platform/tls_schannel.cpp.
// Windows files only.
#pragma once

#define SECURITY_WIN32
#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>
// SCH_CREDENTIALS and TLS_PARAMETERS, which need UNICODE_STRING.
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <string>

#include "platform/tls.h"

namespace platform {

constexpr DWORD kAcceptedProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
constexpr unsigned char kAlertRecord = 21;  // TLS record content type

// Outbound credentials for TLS 1.2 and 1.3 that leave the relay's
// certificate to this program; false with the system's status.
bool AcquireCredentials(CredHandle& credentials, SECURITY_STATUS& status);

// What a failed handshake step's status means.
TlsFailure StepFailure(SECURITY_STATUS status);

// What the relay's next record says before SChannel sees it, since Wine's
// waits for more after a plain-text answer or a fatal alert instead of
// failing. kNone while the bytes may be a TLS handshake going on.
TlsFailure FailureBeforeHandshakeStep(const std::string& in);

// "TLS 1.3" for the negotiated protocol.
std::string ProtocolName(DWORD protocol);

// The cipher suite's standard name from the name SChannel gives it.
std::string SuiteName(const std::string& name);

}  // namespace platform

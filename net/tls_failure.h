// The sentence a person reads when TLS could not be set up: the same words on
// every system, whichever library failed and however it put it.
#pragma once

#include <string>

#include "platform/tls.h"

// "certificate verify failed: self-signed certificate",
// "certificate is for mail.example.net, not smtp.example.org", ...
// The certificate's names are the relay's words: their control bytes (tab
// excepted) are shown as \xHH, so that they cannot drive the terminal.
std::string TlsFailureText(const platform::TlsFailure& failure);

// A handshake that ran out of time or lost its connection may succeed later;
// a certificate, a name or a protocol the relay refused will not.
bool TlsFailureIsTransient(const platform::TlsFailure& failure);

#include <string>

#include "smtp/base64_encoder.h"
#include "smtp/smtp_client.h"

namespace {

// Credentials go to the relay as they are but never into the trace: the
// trace shows the first `position` bytes of the line and a mask for the rest.
class CTraceMask {
 public:
  CTraceMask(CLineSocket& socket, int position) : m_socket(socket) {
    m_socket.SetTraceMask(position);
  }
  ~CTraceMask() { m_socket.SetTraceMask(-1); }
  CTraceMask(const CTraceMask&) = delete;
  CTraceMask& operator=(const CTraceMask&) = delete;

 private:
  CLineSocket& m_socket;
};

}  // namespace

bool CSmtpClient::AuthLogin() {
  if (!m_identified && !Ehlo()) return false;
  if (!NothingWaiting()) return false;
  SendFormatted("AUTH LOGIN\r\n");
  if (!ReadReply("334")) return false;
  CBase64Encoder encoder;
  if (!NothingWaiting()) return false;
  {
    CTraceMask mask(*this, 0);
    SendFormatted("%s\r\n", encoder.EncodeText(m_userName.c_str()).c_str());
  }
  if (!ReadReply("334")) return false;
  if (!NothingWaiting()) return false;
  {
    CTraceMask mask(*this, 0);
    SendFormatted("%s\r\n", encoder.EncodeText(m_password.c_str()).c_str());
  }
  // Only 235 accepts the password; any other reply, 2xx included, refuses it.
  return ReadReply("235");
}

bool CSmtpClient::AuthPlain() {
  if (!m_identified && !Ehlo()) return false;
  if (!NothingWaiting()) return false;
  std::string encoded;
  {
    // No authorisation identity: NUL, user name, NUL, password.
    std::string credential;
    credential.reserve(m_userName.size() + m_password.size() + 2);
    credential.push_back('\0');
    credential += m_userName;
    credential.push_back('\0');
    credential += m_password;
    encoded = CBase64Encoder().EncodeBytes(credential.data(), credential.size());
  }
  if (!NothingWaiting()) return false;
  {
    CTraceMask mask(*this, 11);  // after "AUTH PLAIN "
    SendFormatted("AUTH PLAIN %s\r\n", encoded.c_str());
  }
  return ReadReply("2");
}

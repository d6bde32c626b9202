#include "smtp/smtp_client.h"

// Not built yet: no message can be sent.
bool CSmtpClient::SendMail() { return false; }

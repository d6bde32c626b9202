#include "smtp/smtp_client.h"

// Not built yet: recipients are kept, parts cannot be added.
bool CSmtpClient::SetOriginator(const std::string& text) { m_originatorAddress = text; return true; }
bool CSmtpClient::AddRecipient(const std::string& entry) { m_recipients.push_back(entry); return true; }
bool CSmtpClient::AddCcRecipient(const std::string& entry) { m_recipients.push_back(entry); return true; }
bool CSmtpClient::AddBccRecipient(const std::string& entry) { m_recipients.push_back(entry); return true; }
bool CSmtpClient::AddPart(const std::string&, bool, const std::string&, bool) { return false; }

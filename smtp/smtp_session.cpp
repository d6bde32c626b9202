#include "smtp/smtp_client.h"

// Not built yet: no session can be opened.
CSmtpClient::CSmtpClient(bool quiet) : CLineSocket(quiet) {}
CSmtpClient::~CSmtpClient() = default;
bool CSmtpClient::Connect(const std::string& host, long port) { return Open(host, "smtp", 25, port); }
bool CSmtpClient::Login() { return false; }
bool CSmtpClient::Quit() { return false; }
bool CSmtpClient::SetUserName(const std::string& text) { m_userName = text; return true; }
bool CSmtpClient::SetPassword(const std::string& text) { m_password = text; return true; }

#include "platform/http_client.h"

#include <windows.h>
#include <winhttp.h>

#include <string>

#include "platform/tls_verify_win32.h"
#include "platform/wide_text_win32.h"

namespace platform {
namespace {

struct SInternet {
  HINTERNET handle = nullptr;
  ~SInternet() {
    if (handle) WinHttpCloseHandle(handle);
  }
};

HttpResponse Fail(HttpResponse response, DWORD error) {
  response.body.clear();
  switch (error) {
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
      response.outcome = HttpOutcome::CertificateFailed;
      response.error = "the server's certificate was refused";
      break;
    case ERROR_WINHTTP_TIMEOUT:
    case 10060:  // WSAETIMEDOUT: Wine's WinHTTP passes the socket's error on
      response.outcome = HttpOutcome::TimedOut;
      response.error = "the server did not answer in time";
      break;
    default:
      response.outcome = HttpOutcome::Failed;
      response.error = "HTTP request failed (WinHTTP error " + std::to_string(error) + ")";
  }
  return response;
}

}  // namespace

// With a CA file, WinHTTP is told to accept an unknown root and the
// certificate is checked here, as the SChannel client checks a relay's,
// before the body (which holds the secrets) is written.
HttpResponse HttpSend(const HttpRequest& request) {
  HttpResponse response;
  std::wstring url = WideFromUtf8(request.url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
    response.error = "bad address";
    return response;
  }
  std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (path.empty()) path = L"/";
  bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

  SInternet session, connection, handle;
  session.handle = WinHttpOpen(L"velsend", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                               WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (!session.handle) return Fail(response, GetLastError());
  if (request.timeoutMs > 0) {
    int t = request.timeoutMs;
    WinHttpSetTimeouts(session.handle, t, t, t, t);
  }
  connection.handle = WinHttpConnect(session.handle, host.c_str(), parts.nPort, 0);
  if (!connection.handle) return Fail(response, GetLastError());
  const wchar_t* accept[] = {L"application/json", nullptr};
  handle.handle = WinHttpOpenRequest(connection.handle, request.form.empty() ? L"GET" : L"POST",
                                     path.c_str(), nullptr, WINHTTP_NO_REFERER, accept,
                                     secure ? WINHTTP_FLAG_SECURE : 0);
  if (!handle.handle) return Fail(response, GetLastError());
  if (request.timeoutMs > 0) {
    // The wait for the answer's headers has its own bound (90 s by default),
    // which WinHttpSetTimeouts leaves alone.
    DWORD t = static_cast<DWORD>(request.timeoutMs);
    WinHttpSetOption(handle.handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &t, sizeof t);
  }
  const wchar_t* headers =
      request.form.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS
                           : L"Content-Type: application/x-www-form-urlencoded\r\n";
  DWORD headersLength = request.form.empty() ? 0 : static_cast<DWORD>(-1L);
  const bool ownCheck = secure && !request.caFile.empty();
  if (ownCheck) {
    DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    WinHttpSetOption(handle.handle, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }
  // The headers first: the connection and its certificate, no secret yet.
  if (!WinHttpSendRequest(handle.handle, headers, headersLength, WINHTTP_NO_REQUEST_DATA, 0,
                          static_cast<DWORD>(request.form.size()), 0)) {
    return Fail(response, GetLastError());
  }
  if (ownCheck) {
    const CERT_CONTEXT* leaf = nullptr;
    DWORD leafSize = sizeof leaf;
    const bool sent = WinHttpQueryOption(handle.handle, WINHTTP_OPTION_SERVER_CERT_CONTEXT,
                                         &leaf, &leafSize) &&
                      leaf != nullptr;
    const bool trusted = sent && VerifyServerCertificate(leaf, request.caFile, Utf8FromWide(host),
                                                         response.certificate);
    if (leaf) CertFreeCertificateContext(leaf);
    if (!trusted) {
      if (!sent) response.certificate = TlsFailure(TlsFailureKind::kNoCertificate);
      response.outcome = HttpOutcome::CertificateFailed;
      return response;
    }
  }
  DWORD written = 0;
  if ((!request.form.empty() &&
       !WinHttpWriteData(handle.handle, request.form.data(),
                         static_cast<DWORD>(request.form.size()), &written)) ||
      !WinHttpReceiveResponse(handle.handle, nullptr)) {
    return Fail(response, GetLastError());
  }
  DWORD status = 0;
  DWORD size = sizeof status;
  WinHttpQueryHeaders(handle.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(handle.handle, &available)) {
      return Fail(response, GetLastError());
    }
    if (available == 0) break;
    std::string chunk(available, '\0');
    DWORD read = 0;
    if (!WinHttpReadData(handle.handle, chunk.data(), available, &read)) {
      return Fail(response, GetLastError());
    }
    response.body.append(chunk.data(), read);
  }
  response.outcome = HttpOutcome::Answered;
  response.status = static_cast<int>(status);
  return response;
}

}  // namespace platform

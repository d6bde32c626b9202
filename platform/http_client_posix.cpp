#include "platform/http_client.h"

#include <curl/curl.h>

#include <mutex>

namespace platform {
namespace {

size_t Collect(char* data, size_t size, size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

struct SCurl {
  CURL* handle = curl_easy_init();
  ~SCurl() {
    if (handle) curl_easy_cleanup(handle);
  }
};

}  // namespace

HttpResponse HttpSend(const HttpRequest& request) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  HttpResponse response;
  SCurl curl;
  if (!curl.handle) {
    response.error = "the HTTP library could not start";
    return response;
  }
  char errorText[CURL_ERROR_SIZE] = "";
  CURL* h = curl.handle;
  curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
  // Only TLS: the requests carry refresh tokens and client secrets.
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &response.body);
  curl_easy_setopt(h, CURLOPT_USERAGENT, "velsend");
  if (!request.caFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, request.caFile.c_str());
  if (request.timeoutMs > 0) {
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeoutMs));
  }
  curl_slist* headers = curl_slist_append(nullptr, "Accept: application/json");
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
  if (!request.form.empty()) {
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.form.c_str());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.form.size()));
  }
  CURLcode code = curl_easy_perform(h);
  curl_slist_free_all(headers);
  if (code == CURLE_OK) {
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    response.outcome = HttpOutcome::Answered;
    response.status = static_cast<int>(status);
    return response;
  }
  response.body.clear();
  switch (code) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
      response.outcome = HttpOutcome::CertificateFailed;
      break;
    case CURLE_OPERATION_TIMEDOUT:
      response.outcome = HttpOutcome::TimedOut;
      break;
    default:
      response.outcome = HttpOutcome::Failed;
  }
  response.error = errorText[0] ? errorText : curl_easy_strerror(code);
  return response;
}

}  // namespace platform

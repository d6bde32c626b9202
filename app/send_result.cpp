#include "app/send_result.h"

const char* SendResultName(unsigned status) {
  static const char* const kNames[] = {
      "ERROR_NONE",          "ERROR_NO_ORIGINATOR",      "ERROR_NO_RECIPIENTS",
      "ERROR_NO_SUBJECT",    "ERROR_NO_HOST",            "ERROR_ATACHING_FILE",
      "ERROR_CONNECTING_TO_HOST", "ERROR_SENDING_MAIL", "ERROR_INVALID_ESMTP_METHOD",
      "ERROR_AUTHENTICATING", "ERROR_CLOSING_CONNECTION", "ERROR_INVALID_ARGUMENT",
      "ERROR_TLS",
  };
  if (status < sizeof kNames / sizeof kNames[0]) return kNames[status];
  return "UNKNOWN_ERROR";
}

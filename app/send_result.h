// Outcome of a run; also the process exit status.
#pragma once

enum SendResult : unsigned {
  ERROR_NONE = 0,
  ERROR_NO_ORIGINATOR = 1,
  ERROR_NO_RECIPIENTS = 2,
  ERROR_NO_SUBJECT = 3,
  ERROR_NO_HOST = 4,
  ERROR_ATACHING_FILE = 5,
  ERROR_CONNECTING_TO_HOST = 6,
  ERROR_SENDING_MAIL = 7,
  ERROR_INVALID_ESMTP_METHOD = 8,
  ERROR_AUTHENTICATING = 9,
  ERROR_CLOSING_CONNECTION = 10,
  ERROR_INVALID_ARGUMENT = 11,  // a faulty command-line word or long option
  ERROR_TLS = 12,
};

// The fixed name printed in the status line; "UNKNOWN_ERROR" for any value
// outside the table.
const char* SendResultName(unsigned status);

#include "app/exit_codes.h"

namespace {

// From sendmail's sysexits.h.
constexpr unsigned kExOk = 0;
constexpr unsigned kExDataErr = 65;
constexpr unsigned kExNoInput = 66;
constexpr unsigned kExUnavailable = 69;
constexpr unsigned kExTempFail = 75;
constexpr unsigned kExNoPerm = 77;
constexpr unsigned kExConfig = 78;

}  // namespace

bool ParseExitConvention(const std::string& text, ExitConvention& convention) {
  if (text == "classic") {
    convention = ExitConvention::kClassic;
  } else if (text == "sysexits") {
    convention = ExitConvention::kSysexits;
  } else {
    return false;
  }
  return true;
}

unsigned ExitStatus(SendResult status, bool temporary, RunStage stage,
                    ExitConvention convention) {
  if (convention == ExitConvention::kClassic) return status;
  switch (status) {
    case ERROR_NONE:
    case ERROR_CLOSING_CONNECTION:
      return kExOk;
    default:
      break;
  }
  if (temporary) return kExTempFail;
  switch (status) {
    case ERROR_NO_ORIGINATOR:
    case ERROR_NO_RECIPIENTS:
    case ERROR_NO_SUBJECT:
      return kExDataErr;
    case ERROR_ATACHING_FILE:
      return kExNoInput;
    case ERROR_AUTHENTICATING:
      return stage == RunStage::kAuth || stage == RunStage::kBeforeConnecting ? kExNoPerm
                                                                              : kExUnavailable;
    case ERROR_CONNECTING_TO_HOST:
      // "Invalid host" or "Invalid port" of -h, found before connecting.
      return stage == RunStage::kBeforeConnecting ? kExConfig : kExUnavailable;
    case ERROR_NO_HOST:
    case ERROR_INVALID_ESMTP_METHOD:
    case ERROR_INVALID_ARGUMENT:
      return kExConfig;
    default:
      return kExUnavailable;
  }
}

const char* ExitStatusName(unsigned status, ExitConvention convention) {
  if (convention == ExitConvention::kClassic) return SendResultName(status);
  switch (status) {
    case kExOk: return "EX_OK";
    case kExDataErr: return "EX_DATAERR";
    case kExNoInput: return "EX_NOINPUT";
    case kExUnavailable: return "EX_UNAVAILABLE";
    case kExTempFail: return "EX_TEMPFAIL";
    case kExNoPerm: return "EX_NOPERM";
    case kExConfig: return "EX_CONFIG";
  }
  return "UNKNOWN_ERROR";
}

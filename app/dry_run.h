// --dry-run: the message as it would be sent, without a relay.
#pragma once

#include "app/send_result.h"

class CSmtpClient;

// Writes the message data of a built client to standard output, CR LF line
// ends and no dot-stuffing, then its envelope commands to standard error,
// one line each. ERROR_NONE, or ERROR_SENDING_MAIL when standard output
// took not all of it or a file changed while it was written.
SendResult WriteDryRun(CSmtpClient& client);

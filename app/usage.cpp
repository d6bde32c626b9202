#include "app/usage.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "app/long_options.h"

#include "product_config.h"

const char* UsageText() {
  return "Usage:\n"
         "  velsend [-b] [-c<CC recipients>] [-C<BCC recipients>] [-f<files>]\n"
         "         -h<host[:port]> [-l<charset>]\n"
         "         [-m<ESMTP method>] [-n<ESMTP Username>] [-p<ESMTP Password>]\n"
         "         [-q] [-R<reply>] -r<recipients> -s<subject> -o<originator>\n"
         "         [-u] [-U] \n"
         "         [-?] [-#]\n"
         "\n"
         "Switches:\n"
         "  -b                 Wait for key on completion\n"
         "  -c<CC recipients>  Copy Recipient addresses\n"
         "  -C<BCC recipients> Blind Copy Recipient addresses\n"
         "  -f<files>          List of files to send\n"
         "  -h<host[:port]>    Remote Host and port\n"
         "  -l<charset>        Override default MIME charset parameter\n"
         "  -m<ESMTP method>   ESMTP method (PLAIN or LOGIN, default is PLAIN)\n"
         "  -n<ESMTP username> ESMTP username\n"
         "  -p<ESMTP password> ESMTP password\n"
         "  -q                 Quiet mode - Send less diagnostics to stderr\n"
         "  -R<reply>          Reply-to address\n"
         "  -r<recipients>     Recipient addresses\n"
         "  -s<subject>        Message subject\n"
         "  -o<originator>     Message originator\n"
         "  -u                 Use UUEncoding\n"
         "  -U                 Force UUEncoding\n"
         "  -?                 Display usage\n"
         "  -#                 Display version number\n"
         "\n"
         "More Information: <" VELSEND_DOC_URL ">\n"
         "\n";
}

void PrintUsage() {
  std::fputs(UsageText(), stderr);
  std::fflush(stderr);
}

void PrintHelp() {
  std::string text = UsageText();
  text += "Options:\n";
  for (const SLongOption* option = LongOptionTable(); option->name; ++option) {
    std::string form = std::string("--") + option->name;
    if (option->value) form += std::string("=") + option->value;
    form.resize(std::max<size_t>(form.size() + 1, 19), ' ');
    text += "  " + form + option->help + "\n";
  }
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

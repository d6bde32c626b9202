#include "app/usage.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/long_options.h"
#include "platform/tls.h"
#include "smtp/auth_mechanisms.h"

#include "product_config.h"

namespace {

// "--name" or "--name=VALUE", as --help shows it.
std::string OptionForm(const SLongOption& option) {
  std::string form = std::string("--") + option.name;
  if (option.value && option.value[0] == '[') {
    form += std::string("[=") + (option.value + 1);  // "[NAME]" shows as "[=NAME]"
  } else if (option.value) {
    form += std::string("=") + option.value;
  }
  return form;
}

// Every name -m takes, separator between two, last before the last one.
std::string MechanismNames(const char* separator, const char* last) {
  std::string names;
  for (int m = 1; *AuthMechanismName(m) != '\0'; ++m) {
    if (m > 1) names += *AuthMechanismName(m + 1) != '\0' ? separator : last;
    names += AuthMechanismName(m);
  }
  return names;
}

// Switches whose usage line says less than the long-options part must:
// listed with the options of their group.
struct SSwitchNote {
  EOptionGroup group;
  std::string form;
  std::string help;
};

std::vector<SSwitchNote> SwitchNotes() {
  return {
      {EOptionGroup::kAuthentication, "-m<ESMTP method>",
       MechanismNames(", ", " or ") + " (default: PLAIN; over TLS one the relay offers)"},
      {EOptionGroup::kOutput, "-b", "Accepted for compatibility; waits for no key"},
  };
}

}  // namespace

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
  const std::vector<SSwitchNote> notes = SwitchNotes();
  size_t width = 0;
  for (const SLongOption* option = LongOptionTable(); option->name; ++option) {
    width = std::max(width, OptionForm(*option).size() + 2);
  }
  for (const SSwitchNote& note : notes) width = std::max(width, note.form.size() + 2);
  // A longer form (the OAuth 2.0 options) goes on a line of its own rather
  // than pushing every description to the right.
  constexpr size_t kMostWidth = 28;
  width = std::min(width, kMostWidth);
  std::string text = UsageText();
  for (EOptionGroup group : kOptionGroups) {
    std::string lines;
    for (const SSwitchNote& note : notes) {
      if (note.group != group) continue;
      std::string form = note.form;
      form.resize(width, ' ');
      lines += "  " + form + note.help + "\n";
    }
    for (const SLongOption* option = LongOptionTable(); option->name; ++option) {
      if (option->group != group) continue;
      std::string form = OptionForm(*option);
      if (form.size() + 1 > width) form += "\n  ";
      form.resize(form.size() > width ? form.size() + width : width, ' ');
      lines += "  " + form + option->help;
      if (option->byDefault) lines += std::string(" (default: ") + option->byDefault + ")";
      lines += "\n";
    }
    if (lines.empty()) continue;
    if (text.back() != '\n' || text.compare(text.size() - 2, 2, "\n\n") != 0) text += "\n";
    text += std::string(OptionGroupHeading(group)) + " options:\n" + lines;
  }
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

std::string VersionText() {
  std::string text = VELSEND_PRODUCT_NAME " " VELSEND_PRODUCT_VERSION "\n";
  text += "TLS library: " + platform::TlsLibraryVersion() + "\n";
  text += "Authentication mechanisms: " + MechanismNames(" ", " ") + "\n";
  text += "Features: STARTTLS, implicit TLS, certificate verification, "
          "RFC 2047/2231 headers, dry run, progress\n";
  text += VELSEND_COPYRIGHT "\n";
  return text;
}

void PrintVersion() {
  std::fputs(VersionText().c_str(), stdout);
  std::fflush(stdout);
}

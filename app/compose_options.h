// The options that compose the message beyond -f: the message text from a
// file (--text), an HTML version (--html) with the files it shows
// (--inline), and header fields (--header, --priority, --read-receipt).
// Without them the message is composed exactly as before.
#pragma once

#include <string>
#include <vector>

#include "app/send_result.h"
#include "mime/extra_headers.h"

class CLongOptions;
class CSmtpClient;

struct SComposeOptions {
  bool textGiven = false;
  std::string textFile;  // "-": standard input
  std::string htmlFile;  // empty: none
  std::vector<std::string> inlineFiles;
  // --header's in the order given, then --priority's, then --read-receipt's.
  std::vector<SExtraField> fields;
};

// Reads and checks the options; originator is the -o address. False after
// printing the line that ends the run with status 11: "Invalid header %s",
// "--header cannot set %s", --inline without --html, two inline files of
// one name, --html in a uuencoded message.
bool ReadComposeOptions(const CLongOptions& options, bool uuencodeMode,
                        const std::string& originator, SComposeOptions& compose);

// True when the message text is composed here (--text or --html given): it
// then takes the place of the -f entry that stands for it, or comes first.
inline bool ComposesMessageText(const SComposeOptions& compose) {
  return compose.textGiven || !compose.htmlFile.empty();
}

// Appends the message text part to the client's parts: from --text's file
// or standard input (typedEntry: an empty -f entry asks for it), and with
// --html the multipart/alternative of the text and the HTML (with its
// inline files, multipart/related), the text made from the HTML when there
// is no other. charset is -l's, empty for the default. Prints why and
// returns ERROR_ATACHING_FILE when a file cannot be read.
SendResult AddComposedText(CSmtpClient& client, const SComposeOptions& compose, bool typedEntry,
                           const std::string& charset);

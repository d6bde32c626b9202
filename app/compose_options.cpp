#include "app/compose_options.h"

#include <algorithm>
#include <cstdio>

#include "app/long_options.h"
#include "base/ascii_text.h"
#include "app/switches.h"
#include "mime/byte_source.h"
#include "mime/charset_table.h"
#include "mime/header_values.h"
#include "mime/html_facts.h"
#include "mime/part_plan.h"
#include "platform/code_page.h"
#include "platform/path.h"
#include "platform/text_encoding.h"
#include "smtp/smtp_client.h"

namespace {

void Diagnostic(const char* format, const std::string& text) {
  std::fprintf(stderr, format, text.c_str());
  std::fflush(stderr);
}

std::string NameOf(const std::string& path) {
  return std::string(LastPathName(path, platform::PathSeparators()));
}

// A Content-ID is an atom of RFC 5322 with dots and "@": a file name with
// blanks, brackets or quotes, or not ASCII, cannot be one.
bool IsContentId(const std::string& name) {
  static constexpr std::string_view kSpecials = "!#$%&'*+-/=?^_`{|}~.@";
  if (name.empty()) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           kSpecials.find(c) != std::string_view::npos;
  });
}

std::string DefaultTextCharset() {
  return DefaultCharset(platform::DefaultCodePage(), platform::LocaleCodeSet());
}

bool StartsWithByteOrderMark(const std::string& path) {
  CFileSource file;
  return file.Open(path) && file.Peek().substr(0, 3) == "\xEF\xBB\xBF";
}

CMessagePart Multipart(const char* type, std::vector<CMessagePart> children) {
  CMessagePart part;
  part.m_contentType = type;
  part.m_children = std::move(children);
  return part;
}

// The lines of an -f entry that cannot be read; path is empty for the
// typed text.
SendResult CannotRead(const std::string& path, const std::string& failure) {
  const std::string source = path.empty() ? std::string("standard input") : path;
  if (!failure.empty()) Diagnostic("%s\n", "Cannot read " + source + ": " + failure);
  Diagnostic(">>Error attaching file %s\n", path);
  return ERROR_ATACHING_FILE;
}

// Plans a file for the HTML or its inline parts.
bool PlanShownFile(CSmtpClient& client, CMessagePart& part, std::string& failure) {
  return PlanFilePart(part, false, false, client.m_boundaryText, failure);
}

}  // namespace

bool ReadComposeOptions(const CLongOptions& options, bool uuencodeMode,
                        const std::string& originator, SComposeOptions& compose) {
  compose.textGiven = options.Lookup("text", compose.textFile);
  options.Lookup("html", compose.htmlFile);
  for (const std::string& value : options.Values("inline")) {
    std::vector<std::string> files;
    SplitList(value, files, ',');
    for (const std::string& file : files) {
      if (!file.empty()) compose.inlineFiles.push_back(file);
    }
  }

  // Values typed on a Unicode command line arrive as UTF-8 whatever -l says.
  const std::string fieldCharset = platform::ArgumentsAreUnicode() ? "UTF-8" : "";
  for (const std::string& typed : options.Values("header")) {
    SExtraField field;
    switch (ParseExtraField(typed, field)) {
      case EExtraFieldCheck::kInvalid:
        Diagnostic("Invalid header %s\n", ShownFieldText(typed));
        return false;
      case EExtraFieldCheck::kReserved:
        Diagnostic("--header cannot set %s\n", ShownFieldText(typed.substr(0, typed.find(':'))));
        return false;
      case EExtraFieldCheck::kValid:
        field.charset = fieldCharset;
        compose.fields.push_back(field);
        break;
    }
  }
  // A field an option writes is the option's alone: never written twice.
  const bool priorityGiven = options.Has("priority");
  const bool receiptGiven = options.Has("read-receipt");
  for (const SExtraField& field : compose.fields) {
    const bool byPriority = priorityGiven && (EqualsIgnoringCase(field.name, "X-Priority") ||
                                              EqualsIgnoringCase(field.name, "Importance"));
    const bool byReceipt =
        receiptGiven && EqualsIgnoringCase(field.name, "Disposition-Notification-To");
    if (byPriority || byReceipt) {
      Diagnostic("--header cannot set %s\n", ShownFieldText(field.name));
      return false;
    }
  }
  std::string priority;
  if (options.Lookup("priority", priority)) {
    const bool high = priority == "high";
    const bool low = priority == "low";
    compose.fields.push_back({"X-Priority", high ? "1" : low ? "5" : "3", ""});
    compose.fields.push_back({"Importance", high ? "High" : low ? "Low" : "Normal", ""});
  }
  if (options.Has("read-receipt")) {
    compose.fields.push_back({"Disposition-Notification-To", originator, ""});
  }

  if (!compose.htmlFile.empty() && uuencodeMode) {
    Diagnostic("%s", "Option --html needs a MIME message (no -u or -U)\n");
    return false;
  }
  if (!compose.inlineFiles.empty() && compose.htmlFile.empty()) {
    Diagnostic("%s", "Option --inline needs --html, whose cid: references it serves\n");
    return false;
  }
  std::vector<std::string> names;
  for (const std::string& file : compose.inlineFiles) {
    const std::string name = NameOf(file);
    if (!IsContentId(name)) {
      Diagnostic("Inline file name %s cannot be a Content-ID (ASCII, no blanks or brackets)\n",
                 name);
      return false;
    }
    if (std::find(names.begin(), names.end(), name) != names.end()) {
      Diagnostic("Two inline files are named %s\n", name);
      return false;
    }
    names.push_back(name);
  }
  return true;
}

SendResult AddComposedText(CSmtpClient& client, const SComposeOptions& compose, bool typedEntry,
                           const std::string& charset) {
  const bool fromFile = compose.textGiven && compose.textFile != "-";
  const bool typed = !fromFile && (typedEntry || compose.textGiven);
  const bool html = !compose.htmlFile.empty();

  CMessagePart text;
  std::string failure;
  if (typed) {
    if (!client.AddPart(std::string(), false, charset, true)) {
      return CannotRead(std::string(), client.m_outcome.detail);
    }
    text = std::move(client.m_parts.back());
    client.m_parts.pop_back();
  } else if (fromFile) {
    text.m_contentType = "text/plain";
    text.m_fileName = compose.textFile;
    text.m_withholdName = true;
    // As for the typed text, a byte order mark says what the text is.
    text.m_charset = !charset.empty()                            ? charset
                     : StartsWithByteOrderMark(compose.textFile) ? "UTF-8"
                                                                 : DefaultTextCharset();
    if (!PlanTextPart(text, EPartSource::kFile, failure)) {
      return CannotRead(compose.textFile, failure);
    }
  }
  if (!html) {
    client.m_parts.push_back(std::move(text));
    return ERROR_NONE;
  }

  SHtmlFacts facts;
  if (!ScanHtmlFile(compose.htmlFile, facts, failure)) return CannotRead(compose.htmlFile, failure);
  CMessagePart page;
  page.m_contentType = "text/html";
  page.m_fileName = compose.htmlFile;
  page.m_withholdName = true;
  page.m_charset = !charset.empty()           ? charset
                   : facts.byteOrderMark       ? std::string("UTF-8")
                   : !facts.metaCharset.empty() ? facts.metaCharset
                                               : DefaultTextCharset();
  if (!PlanShownFile(client, page, failure)) return CannotRead(compose.htmlFile, failure);

  if (!typed && !fromFile) {
    // No message may be HTML alone: the text version is made from it.
    text.m_contentType = "text/plain";
    text.m_fileName = compose.htmlFile;
    text.m_withholdName = true;
    text.m_charset = page.m_charset;
    if (!PlanTextPart(text, EPartSource::kHtmlText, failure)) {
      return CannotRead(compose.htmlFile, failure);
    }
  }

  std::vector<CMessagePart> related;
  related.push_back(std::move(page));
  std::vector<std::string> names;
  for (const std::string& file : compose.inlineFiles) {
    CMessagePart shown;
    shown.m_fileName = file;
    shown.m_contentType = client.LookupContentType(file);
    shown.m_charset = charset.empty() ? DefaultTextCharset() : charset;
    shown.m_withholdName = false;
    shown.m_contentId = NameOf(file);
    names.push_back(shown.m_contentId);
    if (!PlanShownFile(client, shown, failure)) return CannotRead(file, failure);
    related.push_back(std::move(shown));
  }
  for (const std::string& reference : facts.cidReferences) {
    if (std::find(names.begin(), names.end(), reference) == names.end()) {
      Diagnostic("Warning: cid:%s in the HTML names no inline file\n", ShownFieldText(reference));
    }
  }

  std::vector<CMessagePart> versions;
  versions.push_back(std::move(text));
  versions.push_back(related.size() == 1 ? std::move(related[0])
                                         : Multipart("multipart/related", std::move(related)));
  client.m_parts.push_back(Multipart("multipart/alternative", std::move(versions)));
  return ERROR_NONE;
}

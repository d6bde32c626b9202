#include "platform/code_page.h"

#include <clocale>
#include <string>

#include <langinfo.h>

namespace platform {
namespace {

// Upper case without "-" and "_", so that "utf8", "UTF-8" and "Utf_8" meet.
std::string Normalise(std::string_view name) {
  std::string key;
  for (char c : name) {
    if (c == '-' || c == '_') continue;
    key.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  }
  return key;
}

struct CodeSetRow {
  const char* codeSet;  // normalised
  unsigned codePage;
};

// Each code set to the Windows code page that names the same characters.
// The C locale's ASCII counts as UTF-8: a system without a locale setting
// most likely holds UTF-8 text, and labelling that us-ascii would garble it.
constexpr CodeSetRow kCodeSets[] = {
    {"UTF8", 65001},        {"UTF7", 65000},
    {"ANSIX3.41968", 65001}, {"ASCII", 65001},     {"USASCII", 65001},
    {"ISO88591", 1252},     {"ISO88592", 28592},  {"ISO88593", 28593},
    {"ISO88594", 28594},    {"ISO88595", 28595},  {"ISO88596", 28596},
    {"ISO88597", 28597},    {"ISO88598", 28598},  {"ISO88599", 28599},
    {"ISO885913", 28603},   {"ISO885915", 28605},
    {"KOI8R", 20866},       {"KOI8U", 21866},
    {"EUCJP", 51932},       {"SHIFTJIS", 932},    {"SJIS", 932},
    {"ISO2022JP", 50220},   {"ISO2022KR", 50225},
    {"GB2312", 936},        {"GBK", 936},         {"GB18030", 54936},
    {"BIG5", 950},          {"EUCKR", 949},
    {"TIS620", 874},        {"CP874", 874},
    {"CP862", 862},         {"CP720", 720},
    {"CP1250", 1250},       {"CP1251", 1251},     {"CP1252", 1252},
    {"CP1253", 1253},       {"CP1254", 1254},     {"CP1255", 1255},
    {"CP1256", 1256},       {"CP1257", 1257},     {"CP1258", 1258},
    {"WINDOWS1250", 1250},  {"WINDOWS1251", 1251}, {"WINDOWS1252", 1252},
    {"WINDOWS1253", 1253},  {"WINDOWS1254", 1254}, {"WINDOWS1255", 1255},
    {"WINDOWS1256", 1256},  {"WINDOWS1257", 1257}, {"WINDOWS1258", 1258},
};

}  // namespace

unsigned CodePageForCodeSet(std::string_view codeSet) {
  const std::string key = Normalise(codeSet);
  for (const CodeSetRow& row : kCodeSets) {
    if (key == row.codeSet) return row.codePage;
  }
  return 0;
}

// Reads the code set of the locale that the environment selects, then puts
// the process's own LC_CTYPE back, so that nothing else changes behaviour.
std::string LocaleCodeSet() {
  const char* current = std::setlocale(LC_CTYPE, nullptr);
  const std::string previous = current ? current : "C";
  std::setlocale(LC_CTYPE, "");
  const char* name = nl_langinfo(CODESET);
  const std::string codeSet = name ? name : "";
  std::setlocale(LC_CTYPE, previous.c_str());
  return codeSet;
}

unsigned DefaultCodePage() { return CodePageForCodeSet(LocaleCodeSet()); }

}  // namespace platform

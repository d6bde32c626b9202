// Arbitrary argument vectors through the switch parser and the parsers of
// switch values: SplitList, the host and port split, SplitAddress and the
// method names.
//
// Input: the words of a command line separated by NUL bytes, the program
// name first.
//
// Oracles: the switch table equals a plain model of the word rules; joining
// the items of SplitList with the separator gives the text back (with the
// separator added when the text ends with one); the host and the text after
// the last ":" give the value back and the port is what atol would read,
// saturated; SplitAddress returns parts of the entry in their place.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/switches.h"
#include "fuzz_support.h"
#include "smtp/smtp_client.h"

namespace {

std::vector<std::string> Words(const uint8_t* data, size_t size) {
  std::vector<std::string> words(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.emplace_back();
    } else {
      words.back().push_back(static_cast<char>(data[i]));
    }
  }
  return words;
}

void CheckSwitchTable(const std::vector<std::string>& words) {
  // The model with the prefixes of the tests' choosing: "--" begins a long
  // option, never a switch; the first word that is not a switch ends the
  // table.
  std::map<char, std::string> model;
  bool allSwitches = true;
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (w.size() >= 2 && w[0] == '-' && w[1] == '-') continue;
    if (w.size() < 2 || (w[0] != '-' && w[0] != '/')) {
      allSwitches = false;
      break;
    }
    model[w[1]] = w.substr(2);
  }
  CSwitchCommandLineInfo table("-/");
  FUZZ_CHECK(table.ParseWords(words) == allSwitches);
  for (int c = 0; c < 256; ++c) {
    const std::string letter(1, static_cast<char>(c));
    auto it = model.find(static_cast<char>(c));
    std::string value = "\x01unchanged";
    FUZZ_CHECK(table.HasSwitch(letter) == (it != model.end()));
    FUZZ_CHECK(table.LookupSwitch(letter, value) == (it != model.end()));
    FUZZ_CHECK(value == (it != model.end() ? it->second : "\x01unchanged"));
  }
  std::string value = "\x01unchanged";
  FUZZ_CHECK(!table.LookupSwitch("", value) && !table.LookupSwitch("ab", value));
  FUZZ_CHECK(value == "\x01unchanged");
}

void CheckSplitList(const std::string& text, char separator) {
  std::vector<std::string> items = {"stale"};
  const int count = SplitList(text, items, separator);
  FUZZ_CHECK(count == static_cast<int>(items.size()));
  std::string joined;
  for (size_t i = 0; i < items.size(); ++i) {
    FUZZ_CHECK(items[i].find(separator) == std::string::npos);
    if (i > 0) joined.push_back(separator);
    joined += items[i];
  }
  // A trailing separator makes no empty last item, so an empty last item
  // needs a separator of its own at the end.
  const bool endsWithSeparator = !text.empty() && text.back() == separator;
  if (endsWithSeparator) joined.push_back(separator);
  FUZZ_CHECK(joined == text);
  if (!items.empty()) FUZZ_CHECK(!items.back().empty() || endsWithSeparator);
}

// What atol reads, saturated where it would overflow; false when anything
// but digits follows the blanks and the sign, or no digit does.
bool ModelPort(const std::string& text, long& port) {
  port = 0;
  if (text.empty()) return true;
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  unsigned long long magnitude = 0;
  const unsigned long long limit = negative ? 0ULL + LONG_MAX + 1 : LONG_MAX;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    const unsigned digit = static_cast<unsigned>(text[i] - '0');
    magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
  }
  if (!negative) {
    port = static_cast<long>(magnitude);
  } else if (magnitude > static_cast<unsigned long long>(LONG_MAX)) {
    port = LONG_MIN;
  } else {
    port = -static_cast<long>(magnitude);
  }
  return true;
}

void CheckHostPort(const std::string& value) {
  std::string host = "stale";
  long port = -1;
  const EHostPort parsed = SplitHostPort(value, host, port);
  // Refused: nothing changed.
  if (parsed != EHostPort::kValid) FUZZ_CHECK(host == "stale" && port == -1);
  const size_t colon = value.rfind(':');
  long expected = 0;
  if (!value.empty() && value[0] == '[') {
    // A bracket form: the literal inside, or refused.
    const size_t close = value.find(']');
    if (parsed == EHostPort::kInvalidHost) return;
    FUZZ_CHECK(close != std::string::npos);
    const std::string rest = value.substr(close + 1);
    const bool portRead = ModelPort(rest.empty() ? rest : rest.substr(1), expected);
    FUZZ_CHECK(parsed == (portRead ? EHostPort::kValid : EHostPort::kInvalidPort));
    if (!portRead) return;
    FUZZ_CHECK(host == value.substr(1, close - 1) && port == expected);
    FUZZ_CHECK(host.find(':') != std::string::npos);
    return;
  }
  FUZZ_CHECK(parsed != EHostPort::kInvalidHost);
  if (colon == std::string::npos || value.find(':') != colon) {
    // No port; an IPv6 literal is never split.
    FUZZ_CHECK(parsed == EHostPort::kValid && host == value && port == 0);
    return;
  }
  const bool portRead = ModelPort(value.substr(colon + 1), expected);
  FUZZ_CHECK(parsed == (portRead ? EHostPort::kValid : EHostPort::kInvalidPort));
  if (portRead) FUZZ_CHECK(host == value.substr(0, colon) && port == expected);
}

void CheckSplitAddress(const std::string& entry) {
  std::string address = "stale";
  std::string name = "stale";
  FUZZ_CHECK(CSmtpClient::SplitAddress(entry, address, name));
  const size_t open = entry.find('<');
  if (open == std::string::npos) {
    FUZZ_CHECK(address == entry && name.empty());
  } else {
    FUZZ_CHECK(name == entry.substr(0, open));
    FUZZ_CHECK(entry.compare(open + 1, address.size(), address) == 0);
    FUZZ_CHECK(address.find('>') == std::string::npos);
    const size_t end = open + 1 + address.size();
    FUZZ_CHECK(end == entry.size() || entry[end] == '>');
  }
  // The entry may be one of the outputs.
  std::string same = entry;
  CSmtpClient::SplitAddress(same, same, name);
  FUZZ_CHECK(same == address);
}

int ModelMethod(const std::string& value) {
  std::string upper = value;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper == "PLAIN" ? 1 : upper == "LOGIN" ? 2 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> words = Words(data, size);
  CheckSwitchTable(words);
  const std::string whole(reinterpret_cast<const char*>(data), size);
  for (const std::string& text : {whole, words.back()}) {
    CheckSplitList(text, ',');
    CheckSplitList(text, '\0');
    CheckHostPort(text);
    CheckSplitAddress(text);
    FUZZ_CHECK(ParseAuthMethod(text) == ModelMethod(text));
  }
  for (const std::string& word : words) {
    if (word.size() < 2) continue;
    const std::string value = word.substr(2);
    std::vector<std::string> items;
    SplitList(value, items, ',');
    for (const std::string& item : items) CheckSplitAddress(item);
    CheckHostPort(value);
  }
  return 0;
}

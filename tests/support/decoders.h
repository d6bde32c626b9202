// Strict decoders of the transfer encodings, written apart from the encoders
// so that tests and fuzz targets check them against another reading. Each
// takes the encoded lines, every one ending in CR LF, and gives the bytes
// they stand for; false, with fault naming the first line a conforming
// encoder would not write, otherwise.
#pragma once

#include <string>
#include <string_view>

#include "mime/line_list.h"

namespace decoders {

inline bool Fail(std::string& fault, size_t index, std::string_view what) {
  fault = "line " + std::to_string(index) + ": " + std::string(what);
  return false;
}

// The line without its CR LF; false when it does not end in one.
inline bool Body(const CLineList& lines, size_t index, std::string_view& body) {
  body = lines[index];
  if (body.size() < 2 || body.substr(body.size() - 2) != "\r\n") return false;
  body.remove_suffix(2);
  return true;
}

inline int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

inline int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace decoders

// Lines of at most 76 characters; "=" and two upper-case hex digits for a
// byte, a final "=" for a soft break; no blank before a hard break. A hard
// break decodes to CR LF.
inline bool DecodeQuotedPrintable(const CLineList& lines, std::string& bytes,
                                  std::string& fault) {
  using namespace decoders;
  bytes.clear();
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view line;
    if (!Body(lines, i, line)) return Fail(fault, i, "no CR LF");
    if (line.size() > 76) return Fail(fault, i, "over 76 characters");
    // An escape ends in a hex digit, so a final "=" is a soft break.
    const bool soft = !line.empty() && line.back() == '=';
    if (soft) line.remove_suffix(1);
    // A blank before a hard break would be lost in transport.
    if (!soft && !line.empty() && (line.back() == ' ' || line.back() == '\t')) {
      return Fail(fault, i, "blank before the line break");
    }
    for (size_t k = 0; k < line.size(); ++k) {
      const char c = line[k];
      if (c != '=') {
        if (c != '\t' && (c < 0x20 || c > 0x7E)) return Fail(fault, i, "byte not escaped");
        bytes.push_back(c);
        continue;
      }
      const int high = k + 2 < line.size() ? HexValue(line[k + 1]) : -1;
      const int low = k + 2 < line.size() ? HexValue(line[k + 2]) : -1;
      if (high < 0 || low < 0) return Fail(fault, i, "bad escape");
      bytes.push_back(static_cast<char>(high << 4 | low));
      k += 2;
    }
    if (!soft) bytes += "\r\n";
  }
  return true;
}

// 76 characters (57 bytes) on every line but the last, which is shorter and
// not empty; "=" pads the last group only, and the bits it leaves are zero.
inline bool DecodeBase64(const CLineList& lines, std::string& bytes, std::string& fault) {
  using namespace decoders;
  bytes.clear();
  for (size_t i = 0; i < lines.size(); ++i) {
    const bool lastLine = i + 1 == lines.size();
    std::string_view line;
    if (!Body(lines, i, line)) return Fail(fault, i, "no CR LF");
    if (lastLine ? line.empty() || line.size() > 76 : line.size() != 76) {
      return Fail(fault, i, "wrong length");
    }
    if (line.size() % 4 != 0) return Fail(fault, i, "not whole groups");
    for (size_t g = 0; g < line.size(); g += 4) {
      const int pad = line[g + 3] != '=' ? 0 : line[g + 2] == '=' ? 2 : 1;
      if (pad != 0 && !(lastLine && g + 4 == line.size())) {
        return Fail(fault, i, "padding before the end");
      }
      unsigned value = 0;
      for (int k = 0; k < 4 - pad; ++k) {
        const int v = Base64Value(line[g + k]);
        if (v < 0) return Fail(fault, i, "not in the alphabet");
        value = value << 6 | static_cast<unsigned>(v);
      }
      value <<= 6 * pad;
      if ((value & ((1u << (8 * pad)) - 1)) != 0) return Fail(fault, i, "padding bits set");
      for (int k = 0; k < 3 - pad; ++k) bytes.push_back(static_cast<char>(value >> (16 - 8 * k)));
    }
  }
  return true;
}

// The lines between "begin" and "end": a length character, then groups of
// four characters from "!" to "`" ("`" for zero), 45 bytes on every line but
// the last.
inline bool DecodeUuencode(const CLineList& lines, std::string& bytes, std::string& fault) {
  using namespace decoders;
  bytes.clear();
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view line;
    if (!Body(lines, i, line)) return Fail(fault, i, "no CR LF");
    for (char c : line) {
      if (c < 0x21 || c > 0x60) return Fail(fault, i, "character out of range");
    }
    if (line.empty()) return Fail(fault, i, "empty");
    const size_t count = static_cast<unsigned>(line[0] - 0x20) & 0x3F;
    if (count < 1 || count > 45 || (i + 1 < lines.size() && count != 45)) {
      return Fail(fault, i, "wrong count");
    }
    if (line.size() != 1 + (count + 2) / 3 * 4) return Fail(fault, i, "length and count differ");
    std::string block;
    for (size_t g = 1; g < line.size(); g += 4) {
      unsigned v = 0;
      for (size_t k = 0; k < 4; ++k) v = v << 6 | (static_cast<unsigned>(line[g + k] - 0x20) & 0x3F);
      block.push_back(static_cast<char>(v >> 16));
      block.push_back(static_cast<char>(v >> 8));
      block.push_back(static_cast<char>(v));
    }
    bytes.append(block, 0, count);
  }
  return true;
}

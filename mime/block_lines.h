// The shared loop of the block encoders (base64, uuencode): every block of
// the source becomes one line.
#pragma once

#include <string_view>

#include "mime/byte_source.h"
#include "mime/line_list.h"

// encode(block, n, text) writes the line of a block of n bytes (1 to
// kBlockBytes), its CR LF included, and returns its length; a full block
// must give kLineBytes. Full blocks are encoded straight from the source's
// buffer; a block split across two fills, and the last one, through a copy.
template <size_t kBlockBytes, size_t kLineBytes, typename Encode>
void EncodeBlockLines(CByteSource& source, CLineList& lines, Encode encode) {
  if (long long size = source.SizeHint(); size > 0) {
    const size_t count = (static_cast<size_t>(size) + kBlockBytes - 1) / kBlockBytes;
    lines.Reserve(count * kLineBytes, count);
  }
  for (;;) {
    std::string_view view = source.Peek();
    if (view.empty()) break;
    const auto* in = reinterpret_cast<const unsigned char*>(view.data());
    const size_t blocks = view.size() / kBlockBytes;
    for (size_t b = 0; b < blocks; ++b) {
      encode(in + b * kBlockBytes, kBlockBytes, lines.AppendSpace(kLineBytes));
      lines.EndLine();
    }
    source.Skip(blocks * kBlockBytes);
    if (blocks > 0) continue;

    unsigned char block[kBlockBytes];
    const size_t n = source.Read(reinterpret_cast<char*>(block), kBlockBytes);
    if (n == 0) break;
    char text[kLineBytes];
    lines.push_back(std::string_view(text, encode(block, n, text)));
  }
}

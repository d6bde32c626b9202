#include "about/version_block.h"

#include <algorithm>
#include <memory>

#include "base/ascii_text.h"

namespace {

constexpr uint16_t kText = 1;
constexpr uint16_t kBinary = 0;

size_t Align4(size_t offset) { return (offset + 3) & ~size_t{3}; }

uint16_t ReadWord16(const std::vector<uint8_t>& block, size_t at) {
  return static_cast<uint16_t>(block[at] | (block[at + 1] << 8));
}

// Splits "\\a\\b" into its names; the root itself has none.
std::vector<std::string> Names(const std::string& subBlock) {
  std::vector<std::string> names;
  std::string name;
  for (char c : subBlock) {
    if (c == '\\') {
      if (!name.empty()) names.push_back(name);
      name.clear();
    } else {
      name.push_back(c);
    }
  }
  if (!name.empty()) names.push_back(name);
  return names;
}

// One node as found in a block; every offset lies inside [start, end).
struct NodeView {
  size_t end = 0;
  std::string key;
  size_t valuePos = 0;
  size_t valueSize = 0;  // bytes
  bool text = false;
  size_t childrenPos = 0;
};

// Reads the node at pos, which must end by limit; false when it does not fit.
bool ReadNode(const std::vector<uint8_t>& block, size_t pos, size_t limit, NodeView& node) {
  if (limit < pos || limit - pos < 6) return false;
  const size_t length = ReadWord16(block, pos);
  if (length < 6 || length > limit - pos) return false;
  node.end = pos + length;
  const size_t valueLength = ReadWord16(block, pos + 2);
  node.text = ReadWord16(block, pos + 4) == kText;
  node.key.clear();
  size_t at = pos + 6;
  for (;; at += 2) {
    if (node.end - at < 2) return false;  // no NUL: no key
    const uint16_t c = ReadWord16(block, at);
    if (c == 0) break;
    node.key.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
  }
  node.valuePos = Align4(at + 2);
  // A value claiming more than its node holds is cut to the node.
  const size_t room = node.end > node.valuePos ? node.end - node.valuePos : 0;
  node.valueSize = std::min(node.text ? valueLength * size_t{2} : valueLength, room);
  node.childrenPos = Align4(node.valuePos + node.valueSize);
  return true;
}

// The UTF-16 writing of bytes, one character per byte.
std::string Utf16(const std::string& bytes) {
  std::string out;
  for (char c : bytes) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

void PutWord16(std::vector<uint8_t>& out, size_t at, size_t value) {
  out[at] = static_cast<uint8_t>(value & 0xFF);
  out[at + 1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

void PutWord32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

struct Node {
  std::string key;
  std::string value;  // as stored: UTF-16 for text
  bool text = true;   // a node without a value of its own counts as text
  std::vector<std::unique_ptr<Node>> children;

  Node* Child(const std::string& name) {
    for (auto& child : children) {
      if (child->key == name) return child.get();
    }
    return NewChild(name);
  }
  Node* NewChild(const std::string& name) {
    children.push_back(std::make_unique<Node>());
    children.back()->key = name;
    return children.back().get();
  }
};

void Write(const Node& node, std::vector<uint8_t>& out) {
  out.resize(Align4(out.size()), 0);
  const size_t start = out.size();
  out.resize(start + 6, 0);
  const std::string key = Utf16(node.key) + std::string(2, '\0');
  out.insert(out.end(), key.begin(), key.end());
  out.resize(Align4(out.size()), 0);
  out.insert(out.end(), node.value.begin(), node.value.end());
  for (const auto& child : node.children) Write(*child, out);
  PutWord16(out, start, out.size() - start);
  PutWord16(out, start + 2, node.text ? node.value.size() / 2 : node.value.size());
  PutWord16(out, start + 4, node.text ? kText : kBinary);
}

}  // namespace

bool QueryVersionValue(const std::vector<uint8_t>& block, const std::string& subBlock,
                       std::string& value) {
  NodeView node;
  if (!ReadNode(block, 0, block.size(), node)) return false;
  for (const std::string& name : Names(subBlock)) {
    // The first child of that name; a damaged child ends the search.
    NodeView child;
    bool found = false;
    for (size_t pos = node.childrenPos; pos < node.end; pos = Align4(child.end)) {
      if (!ReadNode(block, pos, node.end, child)) return false;
      if (EqualsIgnoringCase(child.key, name)) {
        found = true;
        break;
      }
    }
    if (!found) return false;
    node = child;
  }
  value.clear();
  if (node.text) {
    for (size_t at = node.valuePos; at + 1 < node.valuePos + node.valueSize; at += 2) {
      const uint16_t c = ReadWord16(block, at);
      value.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    }
  } else {
    value.assign(block.begin() + node.valuePos, block.begin() + node.valuePos + node.valueSize);
  }
  return true;
}

void CVersionBlockBuilder::SetFileVersion(uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
  std::string fixed;
  PutWord32(fixed, 0xFEEF04BD);               // signature
  PutWord32(fixed, 0x00010000);               // structure version
  PutWord32(fixed, (uint32_t{a} << 16) | b);  // file version, high
  PutWord32(fixed, (uint32_t{c} << 16) | d);  // file version, low
  PutWord32(fixed, (uint32_t{a} << 16) | b);  // product version, high
  PutWord32(fixed, (uint32_t{c} << 16) | d);  // product version, low
  PutWord32(fixed, 0x3F);                     // flags mask
  PutWord32(fixed, 0);                        // flags
  PutWord32(fixed, 0x00040004);               // Windows NT, 32-bit
  PutWord32(fixed, 1);                        // an application
  for (int i = 0; i < 3; ++i) PutWord32(fixed, 0);  // subtype, date
  AddValue("\\", fixed);
}

void CVersionBlockBuilder::AddTranslation(uint16_t language, uint16_t codePage) {
  m_hasTranslations = true;
  PutWord32(m_translations, (uint32_t{codePage} << 16) | language);
}

void CVersionBlockBuilder::AddString(const std::string& translation, const std::string& key,
                                     const std::string& value) {
  m_values.push_back({"\\StringFileInfo\\" + translation + "\\" + key, value, true});
}

void CVersionBlockBuilder::AddValue(const std::string& subBlock, const std::string& bytes) {
  m_values.push_back({subBlock, bytes, false});
}

std::vector<uint8_t> CVersionBlockBuilder::Build() const {
  Node root;
  root.key = "VS_VERSION_INFO";
  auto place = [&root](const Value& v) {
    Node* node = &root;
    const std::vector<std::string> names = Names(v.subBlock);
    for (size_t i = 0; i < names.size(); ++i) {
      node = i + 1 == names.size() ? node->NewChild(names[i]) : node->Child(names[i]);
    }
    node->text = v.text;
    node->value = v.text ? Utf16(v.bytes) + std::string(2, '\0') : v.bytes;
  };
  if (m_hasTranslations) place({"\\VarFileInfo\\Translation", m_translations, false});
  for (const Value& v : m_values) place(v);
  std::vector<uint8_t> block;
  Write(root, block);
  return block;
}

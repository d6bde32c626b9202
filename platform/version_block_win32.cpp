#include "platform/version_block.h"

#include <windows.h>

#include <memory>

// Blocks are in the layout of a Win32 version resource (VS_VERSIONINFO): a
// tree of nodes, each
//
//   WORD  wLength       the node with its children, in bytes
//   WORD  wValueLength  in bytes, or in characters for a text value
//   WORD  wType         1 text, 0 binary
//   WCHAR szKey[]       NUL-terminated, then padding to a 4-byte boundary
//   value               then padding to a 4-byte boundary
//   children
//
// so that VerQueryValueA reads the blocks built here exactly as it reads the
// program's own. VerQueryValueA converts a text value to ANSI into spare
// room behind the tree, which every block therefore carries.

namespace platform {
namespace {

constexpr size_t kMaxPath = 260;

struct Node {
  std::string key;
  std::string value;  // bytes as stored: UTF-16 for text
  bool text = false;
  std::vector<std::unique_ptr<Node>> children;

  Node* Child(const std::string& name) {
    for (auto& child : children) {
      if (child->key == name) return child.get();
    }
    children.push_back(std::make_unique<Node>());
    children.back()->key = name;
    return children.back().get();
  }
};

std::string Utf16(const std::string& ansi) {
  std::string out;
  if (!ansi.empty()) {
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), n);
    for (wchar_t c : wide) {
      out.push_back(static_cast<char>(c & 0xFF));
      out.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
  }
  out.append(2, '\0');
  return out;
}

void Align(std::vector<uint8_t>& out) {
  while (out.size() % 4) out.push_back(0);
}

void PutWord16(std::vector<uint8_t>& out, size_t at, size_t value) {
  out[at] = static_cast<uint8_t>(value & 0xFF);
  out[at + 1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

void Write(const Node& node, std::vector<uint8_t>& out) {
  Align(out);
  const size_t start = out.size();
  out.resize(start + 6, 0);
  const std::string key = Utf16(node.key);
  out.insert(out.end(), key.begin(), key.end());
  Align(out);
  out.insert(out.end(), node.value.begin(), node.value.end());
  for (const auto& child : node.children) Write(*child, out);
  PutWord16(out, start, out.size() - start);
  PutWord16(out, start + 2, node.text ? node.value.size() / 2 : node.value.size());
  PutWord16(out, start + 4, node.text ? 1 : 0);
}

// Splits "\\a\\b" into its names; the root itself has none.
std::vector<std::string> Path(const std::string& subBlock) {
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

}  // namespace

bool LoadOwnVersionBlock(std::vector<uint8_t>& block) {
  block.clear();
  char path[kMaxPath];
  DWORD length = GetModuleFileNameA(nullptr, path, kMaxPath);
  if (length == 0 || length >= kMaxPath) return false;
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &handle);
  if (size == 0) return false;
  block.assign(size, 0);
  if (!GetFileVersionInfoA(path, 0, size, block.data())) {
    block.clear();
    return false;
  }
  return true;
}

bool QueryVersionValue(const std::vector<uint8_t>& block, const std::string& subBlock,
                       const uint8_t*& value, size_t& size) {
  // The tree must lie inside the block, with the spare room for the ANSI
  // copy behind it; anything else is no version block.
  if (block.size() < 6) return false;
  const size_t treeLength = block[0] | (size_t{block[1]} << 8);
  if (treeLength < 6 || block.size() < 2 * treeLength + 4) return false;
  // VerQueryValueA writes the ANSI copy into the spare room, which is no
  // part of what the caller reads as the block's value.
  void* found = nullptr;
  UINT foundSize = 0;
  if (!VerQueryValueA(const_cast<uint8_t*>(block.data()), subBlock.c_str(), &found, &foundSize) ||
      !found) {
    return false;
  }
  value = static_cast<const uint8_t*>(found);
  size = foundSize;
  return true;
}

void CVersionBlockBuilder::SetFileVersion(uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
  VS_FIXEDFILEINFO fixed = {};
  fixed.dwSignature = 0xFEEF04BD;
  fixed.dwStrucVersion = 0x00010000;
  fixed.dwFileVersionMS = (uint32_t{a} << 16) | b;
  fixed.dwFileVersionLS = (uint32_t{c} << 16) | d;
  fixed.dwProductVersionMS = fixed.dwFileVersionMS;
  fixed.dwProductVersionLS = fixed.dwFileVersionLS;
  fixed.dwFileOS = VOS_NT_WINDOWS32;
  fixed.dwFileType = VFT_APP;
  AddValue("\\", std::string(reinterpret_cast<const char*>(&fixed), sizeof fixed));
}

void CVersionBlockBuilder::AddTranslation(uint16_t language, uint16_t codePage) {
  m_hasTranslations = true;
  for (uint16_t word : {language, codePage}) {
    m_translations.push_back(static_cast<char>(word & 0xFF));
    m_translations.push_back(static_cast<char>(word >> 8));
  }
}

void CVersionBlockBuilder::AddString(const std::string& translation, const std::string& key,
                                     const std::string& value) {
  // A leading NUL marks a text value for Build; binary values never carry
  // this prefix because AddValue stores them behind a "\1".
  m_values.emplace_back("\\StringFileInfo\\" + translation + "\\" + key, '\0' + value);
}

void CVersionBlockBuilder::AddValue(const std::string& subBlock, const std::string& bytes) {
  m_values.emplace_back(subBlock, '\1' + bytes);
}

std::vector<uint8_t> CVersionBlockBuilder::Build() const {
  Node root;
  root.key = "VS_VERSION_INFO";
  auto place = [&root](const std::string& subBlock, const std::string& stored) {
    Node* node = &root;
    const std::vector<std::string> names = Path(subBlock);
    for (size_t i = 0; i < names.size(); ++i) {
      // Each value is a node of its own; a second value under the same name
      // comes after the first, which the look-up finds first.
      if (i + 1 == names.size()) {
        node->children.push_back(std::make_unique<Node>());
        node = node->children.back().get();
        node->key = names[i];
      } else {
        node = node->Child(names[i]);
      }
    }
    node->text = stored[0] == '\0';
    node->value = node->text ? Utf16(stored.substr(1)) : stored.substr(1);
  };
  if (m_hasTranslations) place("\\VarFileInfo\\Translation", '\1' + m_translations);
  for (const auto& [subBlock, stored] : m_values) place(subBlock, stored);

  std::vector<uint8_t> block;
  Write(root, block);
  // Room for VerQueryValueA's ANSI copies, as GetFileVersionInfoSizeA gives.
  block.resize(block.size() * 3 + 4, 0);
  return block;
}

}  // namespace platform

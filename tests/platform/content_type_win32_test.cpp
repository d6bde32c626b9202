#include "platform/content_type.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "mime/content_type_table.h"

namespace {

// Registers extension keys under HKEY_CLASSES_ROOT for one test and removes
// them afterwards.
class ScopedKeys {
 public:
  ~ScopedKeys() {
    for (const std::string& name : m_names) RegDeleteKeyA(HKEY_CLASSES_ROOT, name.c_str());
  }
  void Add(const std::string& name, const char* valueName, DWORD type, const std::string& bytes) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    m_names.push_back(name);
    if (valueName) {
      RegSetValueExA(key, valueName, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                     static_cast<DWORD>(bytes.size()));
    }
    RegCloseKey(key);
  }

 private:
  std::vector<std::string> m_names;
};

TEST(RegistryContentTypeWin32, FromTheRegistry) {
  ScopedKeys keys;
  keys.Add(".vstxt", "Content Type", REG_SZ, std::string("text/x-vs\0", 10));
  keys.Add(".vsbare", nullptr, 0, "");
  keys.Add(".vsother", "Other", REG_SZ, std::string("text/x-other\0", 13));
  // Stored without its NUL: the text must still end where the value ends.
  keys.Add(".vsraw", "Content Type", REG_BINARY, "image/x-raw");
  keys.Add(".vsempty", "Content Type", REG_SZ, std::string("\0", 1));
  EXPECT_EQ(platform::SystemContentTypeFile(), "");
  struct Case {
    const char* extension;
    const char* type;
  } cases[] = {
      {".vstxt", "text/x-vs"},  {".VSTXT", "text/x-vs"},  {".vsbare", ""},
      {".vsother", ""},         {".vsraw", "image/x-raw"}, {".vsempty", ""},
      {".vsmissing", ""},       {".vstxt\\README", ""},    {".", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::RegistryContentType(c.extension), c.type) << c.extension;
  }
  // Without a table file of its own, the look-up asks the registry.
  EXPECT_EQ(RegisteredContentType(".vstxt", ""), "text/x-vs");
}

}  // namespace

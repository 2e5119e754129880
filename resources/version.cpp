// The module's version block, embedded in DevKV70.so as a data object in the layout that
// platform::GetFileVersionInfo finds in a module's file (see platform/module.h). Linked
// into the plug-in module only: the block describes that file, not the unit tests.
#include <array>
#include <cstddef>
#include <string_view>

namespace {

constexpr std::string_view kKeyPrefix = "\\StringFileInfo\\040904B0\\";

struct VersionString {
  std::string_view name;
  std::string_view value;
};

// U.S. English, Unicode code page.
constexpr VersionString kStrings[] = {
    {"Comments", ""},
    {"CompanyName", ""},
    {"FileDescription", "DevKV70 DLL"},
    {"FileVersion", "2.00"},
    {"InternalName", "DevKV70"},
    {"LegalTrademarks", ""},
    {"OriginalFilename", "DevKV70.DLL"},
    {"PrivateBuild", ""},
    {"ProductName", "DevKV70 Dynamic Link Library"},
    {"ProductVersion", "1.05"},
    {"SpecialBuild", ""},
};

// "VS_VERSION_INFO", its terminator, then FE EF.
constexpr std::size_t kMagicSize = 18;
constexpr std::size_t kHeaderSize = kMagicSize + 2;  // magic, u16 LE length

// Bytes after the header: each key and value with its terminator, then the end mark.
constexpr std::size_t BodySize() {
  std::size_t size = 0;
  for (const auto& s : kStrings) size += kKeyPrefix.size() + s.name.size() + 1 + s.value.size() + 1;
  return size + 1;
}
static_assert(BodySize() <= 0xFFFF, "the block's length field is 16 bits");

constexpr std::size_t kBlockSize = kHeaderSize + BodySize();

constexpr std::array<unsigned char, kBlockSize> BuildBlock() {
  std::array<unsigned char, kBlockSize> block{};
  std::size_t at = 0;
  auto put = [&](std::string_view text) {
    for (char ch : text) block[at++] = static_cast<unsigned char>(ch);
    block[at++] = 0;
  };
  put("VS_VERSION_INFO");
  block[at++] = 0xFE;
  block[at++] = 0xEF;
  block[at++] = static_cast<unsigned char>(BodySize() & 0xFF);
  block[at++] = static_cast<unsigned char>(BodySize() >> 8);
  for (const auto& s : kStrings) {
    for (char ch : kKeyPrefix) block[at++] = static_cast<unsigned char>(ch);
    put(s.name);
    put(s.value);
  }
  block[at++] = 0;  // end mark
  return block;
}

}  // namespace

// Nothing in the code reads this object; `used` keeps the compiler from dropping it, and
// the linker keeps every object of an object file it links.
[[gnu::used]] static constexpr std::array<unsigned char, kBlockSize> kDevKV70VersionBlock =
    BuildBlock();

#include "checks/Registry.h"

#include "checks/ShownText.h"
#include "pcsc/TextConversions.h"

namespace checks {

RegistryValueNotText::RegistryValueNotText(std::u16string_view valueName, std::uint32_t type)
    : std::runtime_error("La valeur de registre '" + pcsc::Utf16ToUtf8(ShownText(valueName)) +
                         "' n'est pas du texte (type " + std::to_string(type) + ")"),
      valueName_(valueName),
      type_(type) {}

std::u16string RegistryDataToText(std::u16string_view valueName, std::uint32_t type,
                                  const std::uint8_t* data, std::size_t size) {
    if (size == 0 || !data) return {};
    if (type != kRegSz && type != kRegExpandSz) throw RegistryValueNotText(valueName, type);
    // UTF-16 little-endian; an odd last byte is half a character and dropped.
    std::u16string text;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (c == u'\0') break;
        text.push_back(c);
    }
    return text;
}

std::optional<std::uint32_t> RegistryDataToInteger(std::uint32_t type, const std::uint8_t* data,
                                                   std::size_t size) {
    if (type != kRegDword || size != 4 || !data) return std::nullopt;
    return static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
           static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
}

}  // namespace checks

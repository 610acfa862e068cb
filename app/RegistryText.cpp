#include "app/RegistryText.h"

bool ReadRegistryString(plat::Registry& registry, const std::wstring& key, const std::wstring& name,
                        std::wstring& text, bool view32) {
    plat::RegValue value;
    if (registry.QueryValue(key, name, kRegistryStringBufferBytes, value, view32) != plat::kErrorSuccess)
        return false;
    if (value.type != plat::RegType::String)
        return false;
    std::wstring out;
    for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
        const wchar_t c = static_cast<wchar_t>(static_cast<uint8_t>(value.data[i]) |
                                               static_cast<uint8_t>(value.data[i + 1]) << 8);
        if (c == 0)
            break;
        out.push_back(c);
    }
    text = out;
    return true;
}

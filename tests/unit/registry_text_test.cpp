#include <gtest/gtest.h>

#include "app/RegistryText.h"
#include "fakes/FakeRegistry.h"

namespace {

TEST(RegistryText, StringsUpToTheBufferAreReadAndLongerOnesAreAbsent) {
    const std::wstring key = L"SOFTWARE\\Veskora Graphics\\VskQ740FwUpdater";
    struct Case {
        size_t chars; // text characters; the stored value adds a two-byte null
        bool present;
    };
    const Case cases[] = {{0, true}, {5, true}, {65535, true}, {65536, false}, {200000, false}};
    for (const Case& c : cases) {
        FakeRegistry registry;
        registry.CreateKey(key, false);
        registry.SetValue(key, L"Log", plat::RegValue::WideString(std::wstring(c.chars, L'x')), false);
        std::wstring text = L"untouched";
        EXPECT_EQ(ReadRegistryString(registry, key, L"Log", text), c.present) << c.chars;
        EXPECT_EQ(text, c.present ? std::wstring(c.chars, L'x') : L"untouched") << c.chars;
    }
}

TEST(RegistryText, AbsentOrNonStringValuesAreAbsent) {
    FakeRegistry registry;
    registry.CreateKey(L"K", false);
    registry.SetValue(L"K", L"Validate", plat::RegValue::Dword(2), false);
    std::wstring text;
    EXPECT_FALSE(ReadRegistryString(registry, L"K", L"Validate", text));
    EXPECT_FALSE(ReadRegistryString(registry, L"K", L"Log", text));
    EXPECT_FALSE(ReadRegistryString(registry, L"Missing", L"Log", text));
}

} // namespace

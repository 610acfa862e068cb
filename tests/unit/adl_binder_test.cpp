// The display-library binder against a fake library: where it loads from, the required and optional names,
// both context-creation calls, the wrapper rule (-2 unbound, -8 for a missing optional entry point), the
// environment variable, and the match of cards to adapter records.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ExternalDeviceLayer/adl/AdlBinder.h"
#include "fakes/FakePlatform.h"

namespace {

// What the fake library does, shared with its entry points (plain functions, as a library has them).
struct FakeAdlState {
    int x2CreateResult = 0, createResult = 0;
    int creates = 0, destroys = 0, i2cCalls = 0;
    ADL_CONTEXT_HANDLE destroyed = nullptr;
} g_adl;

int X2Create(ADL_MAIN_MALLOC_CALLBACK, int, ADL_CONTEXT_HANDLE* context, int threading) {
    ++g_adl.creates;
    EXPECT_EQ(threading, 1);
    if (g_adl.x2CreateResult == 0)
        *context = &g_adl;
    return g_adl.x2CreateResult;
}
int Create(ADL_MAIN_MALLOC_CALLBACK, int, ADL_CONTEXT_HANDLE* context) {
    ++g_adl.creates;
    if (g_adl.createResult == 0)
        *context = &g_adl;
    return g_adl.createResult;
}
int Destroy(ADL_CONTEXT_HANDLE context) {
    ++g_adl.destroys;
    g_adl.destroyed = context;
    return 0;
}
int I2c(ADL_CONTEXT_HANDLE context, int adapter, ADLI2CLargePayload*) {
    EXPECT_EQ(context, &g_adl);
    ++g_adl.i2cCalls;
    return adapter;
}
int Other() {
    return 0;
}

template <class F> void* Address(F* fn) {
    void* p = nullptr;
    std::memcpy(&p, &fn, sizeof p);
    return p;
}

class FakeLibraries : public plat::Libraries {
public:
    std::set<std::wstring> present;    // paths that load
    std::set<std::string> missing;     // names that do not resolve
    std::vector<std::wstring> tried;   // every path asked for
    std::vector<std::string> resolved; // every name looked up
    int frees = 0;

protected:
    uintptr_t LoadHandle(const std::wstring& name) override {
        tried.push_back(name);
        return present.count(name) ? 0x1000 : 0;
    }
    void* ResolveExport(uintptr_t, const char* symbol) override {
        resolved.push_back(symbol);
        if (missing.count(symbol))
            return nullptr;
        const std::map<std::string, void*> known = {
            {"ADL2_Main_ControlX2_Create", Address(&X2Create)},
            {"ADL2_Main_Control_Create", Address(&Create)},
            {"ADL2_Main_Control_Destroy", Address(&Destroy)},
            {"ADL2_Display_WriteAndReadI2CLargePayload", Address(&I2c)},
        };
        const auto it = known.find(symbol);
        return it != known.end() ? it->second : Address(&Other);
    }
    void FreeHandle(uintptr_t) override { ++frees; }
};

const std::wstring kX = L"C:\\Windows\\System32\\atiadlxx.dll";
const std::wstring kY = L"C:\\Windows\\System32\\atiadlxy.dll";

TEST(AdlBinder, NamesAreTheListWithItsOptionalMarks) {
    size_t optional = 0;
    std::set<std::string> unique;
    for (const tagAdlEntryName& entry : kAdlEntryNames) {
        optional += entry.optional ? 1 : 0;
        unique.insert(entry.name);
        EXPECT_EQ(std::string(entry.name).rfind("ADL2_", 0), 0u) << entry.name;
    }
    EXPECT_EQ(optional, 23u);
    EXPECT_EQ(unique.size(), kAdlEntryCount);
    EXPECT_STREQ(kAdlEntryNames[size_t(AdlEntry::Main_Control_Destroy)].name, "ADL2_Main_Control_Destroy");
    EXPECT_STREQ(kAdlEntryNames[size_t(AdlEntry::Adapter_AdapterInfo_Get)].name,
                 "ADL2_Adapter_AdapterInfo_Get");
    EXPECT_STREQ(kAdlEntryNames[size_t(AdlEntry::Display_WriteAndReadI2CLargePayload)].name,
                 "ADL2_Display_WriteAndReadI2CLargePayload");
    EXPECT_STREQ(kAdlEntryNames[kAdlEntryCount - 1].name, "ADL2_Send");
}

TEST(AdlBinder, BindsOnlyFromTheSystemFolderWithEveryRequiredName) {
    struct Case {
        const char* name;
        std::set<std::wstring> present;
        std::set<std::string> missing;
        int x2, create;
        bool bound;
        std::vector<std::wstring> tried;
        int creates;
    };
    const Case cases[] = {
        {"no library", {}, {}, 0, 0, false, {kX, kY}, 0},
        {"a copy beside the program is never loaded",
         {L"atiadlxx", L"atiadlxx.dll"},
         {},
         0,
         0,
         false,
         {kX, kY},
         0},
        {"the 64-bit system's library", {kY}, {}, 0, 0, true, {kX, kY}, 1},
        {"the first name first", {kX, kY}, {}, 0, 0, true, {kX}, 1},
        {"an optional name missing", {kX}, {"ADL2_Display_Sharpness_Caps"}, 0, 0, true, {kX}, 1},
        {"a required name missing", {kX}, {"ADL2_Adapter_Speed_Get"}, 0, 0, false, {kX}, 0},
        {"the second create call", {kX}, {}, -1, 0, true, {kX}, 2},
        {"both create calls fail", {kX}, {}, -1, -3, false, {kX}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_adl = FakeAdlState{};
        g_adl.x2CreateResult = c.x2;
        g_adl.createResult = c.create;
        FakeLibraries libraries;
        libraries.present = c.present;
        libraries.missing = c.missing;
        FakeEnvironment env;
        CAdlBinder binder(libraries, env);
        EXPECT_EQ(binder.Bind(&AdlAllocate, 1, 2, 1), c.bound);
        EXPECT_EQ(libraries.tried, c.tried);
        EXPECT_EQ(g_adl.creates, c.creates);
        if (!c.missing.empty() && !c.bound) {
            EXPECT_EQ(libraries.resolved.back(), *c.missing.begin()); // later names are not looked up
        }
        ADLI2CLargePayload record{};
        EXPECT_EQ(binder.Display_WriteAndReadI2CLargePayload(7, &record), c.bound ? 7 : kAdlErrNotInit);
        binder.Unbind();
        EXPECT_EQ(binder.Display_WriteAndReadI2CLargePayload(7, &record), kAdlErrNotInit);
        EXPECT_EQ(g_adl.destroys, c.bound ? 1 : 0);
        if (c.bound) {
            EXPECT_EQ(g_adl.destroyed, &g_adl);
        }
        EXPECT_EQ(libraries.frees, c.present.count(c.tried.back()) ? 1 : 0);
    }
}

TEST(AdlBinder, WrapperRuleAndTheEnvironmentVariable) {
    g_adl = FakeAdlState{};
    FakeLibraries libraries;
    libraries.present = {kX};
    libraries.missing = {"ADL2_Display_WriteAndReadI2CLargePayload"}; // required: nothing binds
    FakeEnvironment env;
    {
        CAdlBinder binder(libraries, env);
        EXPECT_EQ(env.vars[L"ADL_4KWORKAROUND_CANCEL"], L"true");
        EXPECT_FALSE(binder.Bind(&AdlAllocate, 2, 2, 1)); // refused before anything is loaded
        EXPECT_FALSE(binder.Bind(&AdlAllocate, 1, 3, 1));
        EXPECT_FALSE(binder.Bind(nullptr, 1, 2, 1));
        EXPECT_TRUE(libraries.tried.empty());
        EXPECT_FALSE(binder.Bind(&AdlAllocate, 1, 2, 1));
        int count = 5;
        EXPECT_EQ(binder.Adapter_NumberOfAdapters_Get(&count), kAdlErrNotInit);
        EXPECT_EQ(count, 5);
        libraries.missing.clear();
        EXPECT_TRUE(binder.Bind(&AdlAllocate, 1, 2, 1));
        EXPECT_TRUE(binder.Bind(&AdlAllocate, 1, 2, 1)); // binding again unbinds first
        EXPECT_EQ(g_adl.destroys, 1);
    }
    EXPECT_EQ(g_adl.destroys, 2);
    EXPECT_EQ(env.vars.count(L"ADL_4KWORKAROUND_CANCEL"), 0u);
    EXPECT_EQ(AdlAllocate(0), nullptr);
    EXPECT_EQ(AdlAllocate(-4), nullptr);
}

TEST(AdlBinder, CardsMatchTheFirstRecordOfTheirOwnFunction) {
    std::vector<AdapterInfo> records(5);
    const int locations[5][3] = {{3, 0, 1}, {3, 0, 0}, {3, 0, 0}, {4, 0, 0}, {3, 1, 0}};
    for (size_t i = 0; i < records.size(); ++i) {
        records[i] = AdapterInfo{};
        records[i].iAdapterIndex = 90 + static_cast<int>(i); // the position counts, not this field
        records[i].iBusNumber = locations[i][0];
        records[i].iDeviceNumber = locations[i][1];
        records[i].iFunctionNumber = locations[i][2];
    }
    const tagPciLocation cards[] = {{3, 0, 0}, {3, 0, 1}, {4, 0, 0}, {5, 0, 0}};
    int32_t index[4] = {};
    MatchAdapters(records.data(), 5, cards, 4, index);
    EXPECT_EQ(std::vector<int32_t>(index, index + 4), (std::vector<int32_t>{1, 0, 3, -1}));
}

} // namespace

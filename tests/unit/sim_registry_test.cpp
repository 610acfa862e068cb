#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "sim/Files.h"
#include "sim/Registry.h"

namespace {

const std::wstring kKey = L"SOFTWARE\\Veskora Graphics\\VskQ740FwUpdater";

class SimRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sim-registry-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string dir_;
};

TEST_F(SimRegistryTest, ValuesPersistAcrossStoresAndKeysIgnoreCase) {
    {
        sim::RegistryStore store(dir_);
        ASSERT_EQ(store.CreateKey(kKey), sim::kRegSuccess);
        ASSERT_EQ(store.SetValue(kKey, L"Log", sim::kRegSz, std::string("h\0i\0\0\0", 6)), sim::kRegSuccess);
        ASSERT_EQ(store.SetValue(L"software\\VESKORA GRAPHICS\\vskq740fwupdater\\", L"validate",
                                 sim::kRegDword, std::string("\x02\0\0\0", 4)),
                  sim::kRegSuccess);
    }
    sim::RegistryStore other(dir_); // as another process would see it
    EXPECT_TRUE(other.KeyExists(L"SOFTWARE\\Veskora Graphics"));
    uint32_t type = 0;
    std::string data;
    ASSERT_EQ(other.QueryValue(L"Software\\Veskora Graphics\\VSKQ740FWUPDATER", L"LOG", 100, type, data), 0);
    EXPECT_EQ(type, sim::kRegSz);
    EXPECT_EQ(data, std::string("h\0i\0\0\0", 6));
    // The first spelling of key and value names is the one kept.
    const sim::RegTree tree = other.Load();
    const sim::RegKey& key = tree.at(L"SOFTWARE\\VESKORA GRAPHICS\\VSKQ740FWUPDATER");
    EXPECT_EQ(key.path, kKey);
    EXPECT_EQ(key.values.at(L"VALIDATE").name, L"validate");
}

TEST_F(SimRegistryTest, QueryHonoursMaxBytesAndLeavesOutputOnFailure) {
    sim::RegistryStore store(dir_);
    ASSERT_EQ(store.CreateKey(kKey), 0);
    ASSERT_EQ(store.SetValue(kKey, L"Log", sim::kRegSz, std::string(131072, 'x')), 0);
    struct Case {
        const wchar_t* name;
        size_t maxBytes;
        long status;
    } cases[] = {
        {L"Log", 131072, sim::kRegSuccess},
        {L"Log", 131071, sim::kRegMoreData},
        {L"Missing", 131072, sim::kRegNotFound},
    };
    for (const auto& c : cases) {
        uint32_t type = 77;
        std::string data = "untouched";
        EXPECT_EQ(store.QueryValue(kKey, c.name, c.maxBytes, type, data), c.status) << c.maxBytes;
        if (c.status != sim::kRegSuccess) {
            EXPECT_EQ(type, 77u);
            EXPECT_EQ(data, "untouched");
        } else {
            EXPECT_EQ(data.size(), 131072u);
        }
    }
    uint32_t type = 0;
    std::string data;
    EXPECT_EQ(store.QueryValue(L"SOFTWARE\\Nobody", L"Log", 10, type, data), sim::kRegNotFound);
}

TEST_F(SimRegistryTest, WindowsErrorsForMissingKeysAndSubkeys) {
    sim::RegistryStore store(dir_);
    EXPECT_EQ(store.SetValue(kKey, L"Log", sim::kRegSz, "x"), sim::kRegNotFound); // key not created
    ASSERT_EQ(store.CreateKey(kKey), 0);
    EXPECT_EQ(store.DeleteKey(L"SOFTWARE\\Veskora Graphics"), sim::kRegAccessDenied);
    EXPECT_EQ(store.DeleteValue(kKey, L"Log"), sim::kRegNotFound);
    EXPECT_EQ(store.DeleteKey(kKey), sim::kRegSuccess);
    EXPECT_FALSE(store.KeyExists(kKey));
    EXPECT_EQ(store.DeleteKey(kKey), sim::kRegNotFound);
    EXPECT_TRUE(store.KeyExists(L"SOFTWARE\\Veskora Graphics"));
}

TEST_F(SimRegistryTest, OddNamesAndBinaryDataRoundTrip) {
    sim::RegistryStore store(dir_);
    const std::wstring key = L"SOFTWARE\\a \"quoted\" key\\\x00e9t\x00e9";
    const std::wstring name = L"line\nbreak \\ and \"quote\"";
    std::string binary;
    for (int i = 0; i < 256; ++i)
        binary += static_cast<char>(i);
    ASSERT_EQ(store.CreateKey(key), 0);
    ASSERT_EQ(store.SetValue(key, name, 3, binary), 0);
    uint32_t type = 0;
    std::string data;
    ASSERT_EQ(sim::RegistryStore(dir_).QueryValue(key, name, 256, type, data), 0);
    EXPECT_EQ(type, 3u);
    EXPECT_EQ(data, binary);
}

TEST_F(SimRegistryTest, CrashLeftoversAreIgnored) {
    sim::RegistryStore store(dir_);
    ASSERT_EQ(store.CreateKey(kKey), 0);
    ASSERT_EQ(store.SetValue(kKey, L"Config", sim::kRegSz, "old"), 0);
    // A writer that died before its rename leaves a temp file; a damaged line is skipped, not fatal.
    ASSERT_TRUE(sim::WriteFileAtomic(dir_ + "/registry.txt.tmp.4242", "key \"SOFTWARE\\\\Ghost\"\n"));
    std::string text;
    ASSERT_TRUE(sim::ReadFile(dir_ + "/registry.txt", text));
    ASSERT_TRUE(sim::WriteFileAtomic(dir_ + "/registry.txt", text + "  value \"Broken\" sz 4"));
    EXPECT_FALSE(store.KeyExists(L"SOFTWARE\\Ghost"));
    uint32_t type = 0;
    std::string data;
    EXPECT_EQ(store.QueryValue(kKey, L"Broken", 10, type, data), sim::kRegNotFound);
    ASSERT_EQ(store.SetValue(kKey, L"Config", sim::kRegSz, "new"), 0);
    ASSERT_EQ(store.QueryValue(kKey, L"Config", 10, type, data), 0);
    EXPECT_EQ(data, "new");
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/registry.txt.tmp." + std::to_string(::getpid())));
}

TEST_F(SimRegistryTest, ConcurrentWritersLoseNothing) {
    ASSERT_EQ(sim::RegistryStore(dir_).CreateKey(kKey), 0);
    auto writer = [this](wchar_t prefix) {
        sim::RegistryStore store(dir_);
        for (int i = 0; i < 25; ++i)
            store.SetValue(kKey, std::wstring(1, prefix) + std::to_wstring(i), sim::kRegDword, "1234");
    };
    std::thread a(writer, L'a'), b(writer, L'b');
    a.join();
    b.join();
    EXPECT_EQ(
        sim::RegistryStore(dir_).Load().at(L"SOFTWARE\\VESKORA GRAPHICS\\VSKQ740FWUPDATER").values.size(),
        50u);
}

} // namespace

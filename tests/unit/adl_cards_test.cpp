// The display-library attempt and the final pass's check, bound to the simulated display library over a
// simulated machine: the adapter match through the library, the versions (build, minor, major on the
// wire), the version gate, the bus test's speed steps, the retry count, and whether the library stays
// bound; and the simulated library's own answers to records it cannot carry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ExternalDeviceLayer/I2cSettings.h"
#include "app/stages/AdlCards.h"
#include "fakes/FakePlatform.h"
#include "fakes/TempFolder.h"
#include "sim/DisplayLibrary.h"
#include "sim/Machine.h"

namespace {

// The platform's loader as the simulated backend has it for this library: any path loads the machine's
// library (where it is found is the backend's business, tested on the bench).
class SimAdlLibraries : public plat::Libraries {
protected:
    uintptr_t LoadHandle(const std::wstring&) override { return 0x2000; }
    void* ResolveExport(uintptr_t, const char* symbol) override { return sim::DisplayLibraryExport(symbol); }
    void FreeHandle(uintptr_t) override {}
};

struct Machine {
    TempFolder folder;
    explicit Machine(const std::function<void(sim::MachineDescription&)>& change) {
        sim::MachineDescription m = sim::DefaultMachine(2);
        m.displayLibrary = true;
        m.adlRecords = 3;
        for (sim::PciFunction& f : m.pci)
            if (f.kind == sim::FunctionKind::Q740)
                f.extra = {{"fpga-version", "1.7.2"}};
        change(m);
        std::string error;
        EXPECT_TRUE(sim::CreateMachine(folder.Path(), m, error)) << error;
        sim::AttachDisplayLibrary(folder.Path());
    }
};

sim::PciFunction& Card(sim::MachineDescription& m, int index) {
    int seen = 0;
    for (sim::PciFunction& f : m.pci)
        if (f.kind == sim::FunctionKind::Q740 && seen++ == index)
            return f;
    throw std::out_of_range("no such card");
}

std::vector<tagPciInfo> Records(const sim::MachineDescription& m) {
    std::vector<tagPciInfo> records;
    for (const sim::PciFunction& f : m.pci)
        if (f.kind == sim::FunctionKind::Q740) {
            tagPciInfo info{};
            info.bus = f.bus;
            info.device = f.device;
            info.function = f.function;
            records.push_back(info);
        }
    return records;
}

TEST(AdlCards, AttemptDecidesFromWhatTheLibraryReads) {
    struct Case {
        const char* name;
        std::function<void(sim::MachineDescription&)> change;
        bool imageVerified, speedGiven;
        bool ran, adlMode, imageAfter, bound;
        std::vector<std::wstring> versions;
        uint32_t speedAfter;
        std::vector<int32_t> adapters;
    };
    const auto none = [](sim::MachineDescription&) {};
    const Case cases[] = {
        {"both cards new and their buses sound",
         none,
         true,
         false,
         true,
         true,
         true,
         true,
         {L"1.7.2", L"1.7.2"},
         800,
         {0, 3}},
        {"no verified image: bound, nothing read",
         none,
         false,
         false,
         false,
         false,
         false,
         false,
         {L"", L""},
         800,
         {-1, -1}},
        {"the second card is too old: the attempt stops there",
         [](sim::MachineDescription& m) {
             Card(m, 1).extra = {{"fpga-version", "1.6.12"}};
         },
         true,
         false,
         true,
         false,
         false,
         false,
         {L"1.7.2", L"1.6.12"},
         800,
         {0, 3}},
        {"major 255 is no version",
         [](sim::MachineDescription& m) {
             Card(m, 0).extra = {{"fpga-version", "255.1.1"}};
         },
         true,
         false,
         true,
         false,
         false,
         false,
         {L"255.1.1", L""},
         800,
         {0, 3}},
        {"the first card's 0xD0 does not answer: 0.0.0, the engines are used",
         [](sim::MachineDescription& m) {
             Card(m, 0).extra.push_back({"i2c-silent", "D0"});
         },
         true,
         false,
         true,
         false,
         true,
         false,
         {L"0.0.0", L""},
         800,
         {0, 3}},
        {"misreads at 800: 600 for both",
         [](sim::MachineDescription& m) {
             Card(m, 0).extra.push_back({"i2c-misread-khz", "700"});
         },
         true,
         false,
         true,
         true,
         true,
         true,
         {L"1.7.2", L"1.7.2"},
         600,
         {0, 3}},
        {"misreads at 600 on the second: 400",
         [](sim::MachineDescription& m) {
             Card(m, 1).extra.push_back({"i2c-misread-khz", "500"});
         },
         true,
         false,
         true,
         true,
         true,
         true,
         {L"1.7.2", L"1.7.2"},
         400,
         {0, 3}},
        {"misreads at 400: no flash image",
         [](sim::MachineDescription& m) {
             Card(m, 1).extra.push_back({"i2c-misread-khz", "400"});
         },
         true,
         false,
         true,
         false,
         false,
         false,
         {L"1.7.2", L"1.7.2"},
         400,
         {0, 3}},
        {"the speed given: no bus test",
         [](sim::MachineDescription& m) {
             Card(m, 1).extra.push_back({"i2c-misread-khz", "400"});
         },
         true,
         true,
         true,
         true,
         true,
         true,
         {L"1.7.2", L"1.7.2"},
         800,
         {0, 3}},
        {"a card whose driver is off has no adapter",
         [](sim::MachineDescription& m) { m.displayDriverInstalled = false; },
         true,
         false,
         false,
         false,
         true,
         false,
         {L"", L""},
         800,
         {-1, -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        I2cSettings().speedKhz.store(800);
        I2cSettings().retryCount.store(0);
        sim::MachineDescription description = sim::DefaultMachine(2);
        Machine machine([&](sim::MachineDescription& m) {
            c.change(m);
            description = m;
        });
        SimAdlLibraries libraries;
        FakeEnvironment env;
        CAdlBinder binder(libraries, env);
        tagAdlAccess adl{binder, {}};
        int closes = 0;
        const std::vector<tagPciInfo> records = Records(description);
        const tagAdlAttempt attempt =
            AttemptAdl(adl, records.data(), 2, c.imageVerified, c.speedGiven, [&closes] { ++closes; });
        EXPECT_EQ(attempt.ran, c.ran);
        EXPECT_EQ(attempt.adlMode, c.adlMode);
        EXPECT_EQ(attempt.imageVerified, c.imageAfter);
        EXPECT_EQ(binder.Bound(), c.bound);
        EXPECT_EQ(closes, c.ran ? 1 : 0);
        EXPECT_EQ(I2cSettings().RetryCount(), c.ran ? kAdlI2cRetries : 0u);
        EXPECT_EQ(I2cSettings().SpeedKhz(), c.speedAfter);
        EXPECT_EQ(std::vector<std::wstring>(attempt.versions.begin(), attempt.versions.begin() + 2),
                  c.versions);
        EXPECT_EQ(std::vector<int32_t>(attempt.adapterIndex.begin(), attempt.adapterIndex.begin() + 2),
                  c.adapters);
    }
    I2cSettings().speedKhz.store(800);
    I2cSettings().retryCount.store(0);
}

TEST(AdlCards, FinalCheckNamesTheFirstCardThatFailsOrDiffers) {
    struct Case {
        const char* name;
        std::function<void(sim::MachineDescription&)> change;
        std::vector<int32_t> adapters;
        uint32_t failures;
        int32_t failing;
    };
    const auto none = [](sim::MachineDescription&) {};
    const Case cases[] = {
        {"both answer alike", none, {0, 3}, 0, -1},
        {"any record of the card will do", none, {2, 4}, 0, -1},
        {"the second card's 0xD2 is silent",
         [](sim::MachineDescription& m) {
             Card(m, 1).extra.push_back({"i2c-silent", "D2"});
         },
         {0, 3},
         0,
         1},
        {"the first card's 0xD0 is silent",
         [](sim::MachineDescription& m) {
             Card(m, 0).extra.push_back({"i2c-silent", "D0"});
         },
         {0, 3},
         0,
         0},
        {"no adapter saved for the second card", none, {0, -1}, 0, 1},
        {"an adapter the library does not have", none, {0, 6}, 0, 1},
        // The settling rounds take the library's early failures: the check itself reads a sound bus.
        {"the library fails its first 100 calls", none, {0, 3}, 100, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        I2cSettings().speedKhz.store(kValidationSpeedKhz);
        Machine machine([&](sim::MachineDescription& m) {
            c.change(m);
            m.adlFailures = c.failures;
        });
        SimAdlLibraries libraries;
        FakeEnvironment env;
        CAdlBinder binder(libraries, env);
        ASSERT_TRUE(binder.Bind(AdlAllocate, 1, kAdlModeContext, kAdlThreadingLocked));
        tagAdlAccess adl{binder, {}};
        EXPECT_EQ(FirstFailingAdlCard(adl, c.adapters.data(), 2), c.failing);
    }
    I2cSettings().speedKhz.store(800);
}

// What the simulated library answers to records it cannot carry, and its context-creation fault.
TEST(AdlCards, SimulatedLibraryRefusesWhatItCannotCarry) {
    Machine machine([](sim::MachineDescription& m) { m.adlCreateFails = 1; });
    ADL_CONTEXT_HANDLE context = nullptr;
    EXPECT_EQ(SimAdl2MainControlX2Create(AdlAllocate, 1, &context, 1), -1);
    ASSERT_EQ(SimAdl2MainControlCreate(AdlAllocate, 1, &context), 0);
    int count = 0;
    ASSERT_EQ(SimAdl2AdapterNumberOfAdaptersGet(context, &count), 0);
    EXPECT_EQ(count, 6);
    std::vector<AdapterInfo> infos(6);
    EXPECT_EQ(SimAdl2AdapterAdapterInfoGet(context, infos.data(), 5 * 1572), -3);
    ASSERT_EQ(SimAdl2AdapterAdapterInfoGet(context, infos.data(), 6 * 1572), 0);
    EXPECT_EQ(infos[3].iBusNumber, 4);
    EXPECT_EQ(infos[3].iAdapterIndex, 3);

    char bytes[3] = {0, 4, 0};
    auto record = [&bytes](int32_t size, int32_t line, int32_t action, int32_t dataSize) {
        ADLI2CLargePayload r{};
        r.iSize = size;
        r.iLine = line;
        r.iAddress = 0xD0;
        r.iAction = action;
        r.iSpeed = 400;
        r.iDataSize = dataSize;
        r.pBuffer = bytes;
        return r;
    };
    const int32_t own = static_cast<int32_t>(sizeof(ADLI2CLargePayload));
    struct Case {
        const char* name;
        int adapter;
        ADLI2CLargePayload payload;
        int result;
    };
    const Case cases[] = {
        {"a sub-address write", 0, record(own, 4, 2, 2), 0},
        {"the other build's record size", 0, record(own == 36 ? 40 : 36, 4, 2, 2), -3},
        {"no bytes", 0, record(own, 4, 2, 0), -3},
        {"an unknown action", 0, record(own, 4, 3, 2), -3},
        {"another line: nobody there", 0, record(own, 3, 2, 2), -1},
        {"an adapter beyond the list", 6, record(own, 4, 2, 2), -5},
        {"a negative adapter", -1, record(own, 4, 2, 2), -5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ADLI2CLargePayload payload = c.payload;
        EXPECT_EQ(SimAdl2DisplayWriteAndReadI2CLargePayload(context, c.adapter, &payload), c.result);
    }
    EXPECT_EQ(SimAdl2DisplayWriteAndReadI2CLargePayload(context, 0, nullptr), -9);
    EXPECT_EQ(SimAdl2MainControlDestroy(context), 0);
    EXPECT_EQ(SimAdl2MainControlDestroy(context), -1);
    ADLI2CLargePayload payload = record(own, 4, 2, 2);
    EXPECT_EQ(SimAdl2DisplayWriteAndReadI2CLargePayload(context, 0, &payload), -1);
}

} // namespace

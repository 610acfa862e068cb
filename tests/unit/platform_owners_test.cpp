// The owners the platform hands out: each closes what it holds exactly once, in the right order, and moves
// without closing; a lock releases only a mutex its wait made this process own.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"

namespace {

// Every backend operation, recorded in order.
class RecordingObjects : public plat::NamedObjects, public plat::Libraries {
public:
    using WaitResult = plat::NamedMutex::WaitResult;
    uintptr_t CreateMutexHandle(const std::wstring&) override { return Log("create mutex", 11); }
    WaitResult WaitForMutex(uintptr_t, uint32_t) override {
        Log("wait", 0);
        return waitResult;
    }
    void ReleaseMutexHandle(uintptr_t h) override { Log("release", h); }
    uintptr_t OpenOrCreateMappingHandle(const std::wstring&, uint32_t, bool& created) override {
        created = true;
        return Log("open mapping", 22);
    }
    void* MapView(uintptr_t) override {
        Log("map", 22);
        return &view;
    }
    void UnmapView(void*) override { Log("unmap", 22); }
    void CloseObject(uintptr_t h) override { Log("close", h); }
    bool SignalEvent(const std::wstring&) override { return false; }
    uintptr_t LoadHandle(const std::wstring&) override { return Log("load", 33); }
    void* ResolveExport(uintptr_t, const char*) override { return &view; }
    void FreeHandle(uintptr_t h) override { Log("free", h); }

    uintptr_t Log(const char* what, uintptr_t handle) {
        events.push_back(std::string(what) + (handle ? " " + std::to_string(handle) : ""));
        return handle;
    }
    WaitResult waitResult = WaitResult::Acquired;
    int view = 0;
    std::vector<std::string> events;
};

TEST(PlatformOwners, LockReleasesOnlyAnOwnedMutexBeforeTheMutexCloses) {
    using WaitResult = plat::NamedMutex::WaitResult;
    struct Case {
        WaitResult result;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {WaitResult::Acquired, {"create mutex 11", "wait", "release 11", "close 11"}},
        {WaitResult::Abandoned, {"create mutex 11", "wait", "release 11", "close 11"}},
        {WaitResult::Timeout, {"create mutex 11", "wait", "close 11"}},
        {WaitResult::Failed, {"create mutex 11", "wait", "close 11"}},
    };
    for (const Case& c : cases) {
        RecordingObjects objects;
        objects.waitResult = c.result;
        {
            plat::NamedMutex mutex = objects.CreateNamedMutex(L"m");
            ASSERT_TRUE(mutex);
            const plat::NamedMutex::Lock lock = mutex.Wait(10);
            EXPECT_EQ(lock.Acquired(), c.result == WaitResult::Acquired);
        }
        EXPECT_EQ(objects.events, c.events);
    }
}

TEST(PlatformOwners, MovesHandOverAndEachHandleClosesOnce) {
    RecordingObjects objects;
    {
        plat::NamedMutex first = objects.CreateNamedMutex(L"m");
        plat::NamedMutex second = std::move(first);
        EXPECT_FALSE(first);
        first = std::move(second);
        plat::SharedMapping mapping = objects.OpenOrCreateMapping(L"s", 8);
        EXPECT_TRUE(mapping.Created());
        EXPECT_EQ(mapping.View(), mapping.View()); // mapped once
        plat::SharedMapping kept = std::move(mapping);
        plat::Library library = objects.Load(L"x.dll");
        EXPECT_NE(library.Resolve("f"), nullptr);
        library = objects.Load(L"y.dll"); // the first one is freed
    }
    // Destroyed in reverse order: the second library, the mapping (view first), the mutex.
    EXPECT_EQ(objects.events,
              (std::vector<std::string>{"create mutex 11", "open mapping 22", "map 22", "load 33", "load 33",
                                        "free 33", "free 33", "unmap 22", "close 22", "close 11"}));
}

TEST(PlatformOwners, KeptOwnersCloseNothing) {
    RecordingObjects objects;
    {
        plat::SharedMapping mapping = objects.OpenOrCreateMapping(L"s", 8);
        mapping.View();
        plat::Library library = objects.Load(L"x.dll");
        mapping.KeepUntilExit();
        library.KeepUntilExit();
        EXPECT_EQ(library.Resolve("f"), nullptr);
    }
    EXPECT_EQ(objects.events, (std::vector<std::string>{"open mapping 22", "map 22", "load 33"}));
}

TEST(PlatformOwners, FailedOpensGiveEmptyOwnersThatCloseNothing) {
    struct Failing : RecordingObjects {
        uintptr_t CreateMutexHandle(const std::wstring&) override { return 0; }
        uintptr_t OpenOrCreateMappingHandle(const std::wstring&, uint32_t, bool& created) override {
            created = true;
            return 0;
        }
        uintptr_t LoadHandle(const std::wstring&) override { return 0; }
    } objects;
    {
        plat::NamedMutex mutex = objects.CreateNamedMutex(L"m");
        EXPECT_FALSE(mutex);
        EXPECT_FALSE(mutex.Wait(10).Acquired());
        plat::SharedMapping mapping = objects.OpenOrCreateMapping(L"s", 8);
        EXPECT_FALSE(mapping);
        EXPECT_FALSE(mapping.Created());
        EXPECT_EQ(mapping.View(), nullptr);
        EXPECT_FALSE(objects.Load(L"x.dll"));
    }
    EXPECT_TRUE(objects.events.empty());
}

} // namespace

// The registry state machine of an update across restarts: each transition leaves the registry in the
// state the next run recognises; everything lives in the 32-bit view.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "app/RegistryText.h"
#include "app/ResumeState.h"
#include "fakes/FakeRegistry.h"

namespace {

const wchar_t kCommand[] = L"\"C:\\P\\VskQ740FwUpdater.exe\" -f \"C:\\P\\fw.xsvf\"";

TEST(ResumeState, TransitionsLeaveTheStateTheNextRunFinds) {
    const std::string settings("100%\0\xFF odd", 10);
    const struct {
        const char* name;
        std::function<void(CResumeState&)> before; // how the registry stood
        std::function<void(CResumeState&)> event;
        ResumeStage after;
    } cases[] = {
        {"disable needs a restart, yes",
         {},
         [&](CResumeState& r) { r.WriteDriverRestart(kCommand, &settings); },
         ResumeStage::DriverRestartPending},
        {"disable needs a restart, settings unreadable",
         {},
         [](CResumeState& r) { r.WriteDriverRestart(kCommand, nullptr); },
         ResumeStage::TestRunPending},
        {"update ends with a restart",
         {},
         [](CResumeState& r) { r.WriteFinalPass(L"transcript", L"import", kCommand); },
         ResumeStage::FinalPassPending},
        {"resumed update ends with a restart",
         [&](CResumeState& r) { r.WriteDriverRestart(kCommand, &settings); },
         [](CResumeState& r) { r.WriteFinalPass(L"transcript", L"import", kCommand); },
         ResumeStage::FinalPassPending},
        {"update ends without a restart", [&](CResumeState& r) { r.WriteDriverRestart(kCommand, &settings); },
         [](CResumeState& r) { r.ForgetResumeState(); }, ResumeStage::Clean},
        {"test passes its prompt",
         {},
         [](CResumeState& r) { r.WriteRunOnce(kCommand); },
         ResumeStage::TestRunPending},
        {"final pass", [](CResumeState& r) { r.WriteFinalPass(L"transcript", L"import", kCommand); },
         [](CResumeState& r) {
             r.DeleteLog();
             r.DeleteRestore();
         },
         ResumeStage::TestRunPending}, // the RunOnce entry went when Windows ran it, not here
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeRegistry registry;
        CResumeState resume(registry);
        if (c.before)
            c.before(resume);
        c.event(resume);
        EXPECT_EQ(ClassifyResumeState(registry), c.after);
        EXPECT_TRUE(registry.lastView32);
    }
}

TEST(ResumeState, ConfigCarriesTheSettingsByteForByteAndEmptyIsAbsent) {
    for (const std::string& bytes :
         {std::string("a=%TEMP%\r\n100%"), std::string("odd", 3), std::string("\0\xFF\xC3\r", 4)}) {
        FakeRegistry registry;
        CResumeState resume(registry);
        resume.WriteDriverRestart(kCommand, &bytes);
        std::string back;
        ASSERT_TRUE(resume.ReadConfig(back));
        EXPECT_EQ(back, bytes);
    }
    FakeRegistry registry;
    CResumeState resume(registry);
    const std::string empty;
    resume.WriteDriverRestart(kCommand, &empty);
    std::string back;
    EXPECT_FALSE(resume.ReadConfig(back));
}

TEST(ResumeState, RunOnceDataLeavesOutTheNullAndLongTranscriptsStayReadable) {
    FakeRegistry registry;
    CResumeState resume(registry);
    resume.WriteRunOnce(L"ab");
    const std::pair<std::wstring, std::wstring> entry{FakeRegistry::Fold(kRunOnceKey),
                                                      FakeRegistry::Fold(kRunOnceValue)};
    EXPECT_EQ(registry.values[entry].data, std::string("a\0b\0", 4));

    // A transcript longer than the read buffer: its newest part is stored, so the final pass happens.
    const std::wstring transcript = L"oldest" + std::wstring(70000, L'x') + L"newest";
    resume.WriteFinalPass(transcript, L"import", L"cmd");
    std::wstring back;
    ASSERT_TRUE(resume.ReadLog(back));
    EXPECT_EQ(back.size(), kMaxStoredTranscriptChars);
    EXPECT_EQ(back.substr(back.size() - 6), L"newest");
    EXPECT_EQ(StorableTranscript(L"short"), L"short");
}

} // namespace

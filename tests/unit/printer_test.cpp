#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "app/Printer.h"
#include "fakes/FakePlatform.h"

namespace {

const std::wstring kLog = L"C:\\log.txt";

struct PrinterFixture : testing::Test {
    FakePlatform p;
    CPrinter printer{p.fakeConsole, p.fakeFiles, p.fakeEnv};
    PrinterFixture() { printer.SetLogPath(kLog); }
    std::string Log() { return p.fakeFiles.FileText(kLog); }
};

TEST_F(PrinterFixture, BackspacesOverwriteOnScreenBlankInLogAndTakeBackTranscript) {
    printer.Print(L"Programming the FPGA:....... 00%% ");
    printer.Print(L"\b\b\b\b%02d%%", 42);
    EXPECT_EQ(p.fakeConsole.out, "Programming the FPGA:....... 00% \b\b\b\b42%");
    EXPECT_EQ(Log(), "Programming the FPGA:....... 00%     42%");
    EXPECT_EQ(printer.Transcript(), L"Programming the FPGA:....... 42%");
}

TEST_F(PrinterFixture, MoreBackspacesThanTranscriptLeaveItEmpty) {
    printer.Print(L"ab");
    printer.Print(L"\b\b\b\b\b");
    EXPECT_EQ(printer.Transcript(), L"");
    printer.Print(L"c");
    EXPECT_EQ(printer.Transcript(), L"c");
}

TEST_F(PrinterFixture, LogGetsCrLfAndLogOnlySkipsTheConsole) {
    printer.LogOnly(L"\n===\n%ls\n", L"x");
    printer.Print(L"line %d\n", 7);
    EXPECT_EQ(p.fakeConsole.out, "line 7\n");
    EXPECT_EQ(Log(), "\r\n===\r\nx\r\nline 7\r\n");
    EXPECT_EQ(printer.Transcript(), L"\n===\nx\nline 7\n");
}

TEST_F(PrinterFixture, LongMessagesAreCutInLogAndTranscriptOnly) {
    const std::wstring longText(3000, L'y');
    printer.Print(L"%ls", longText.c_str());
    EXPECT_EQ(p.fakeConsole.out.size(), 3000u);
    EXPECT_EQ(Log().size(), CPrinter::kMaxLoggedChars);
    EXPECT_EQ(printer.Transcript().size(), CPrinter::kMaxLoggedChars);
}

TEST_F(PrinterFixture, UnwritableLogChangesNothingElse) {
    p.fakeFiles.FaultsFor(kLog).openFails = true;
    printer.Print(L"hello\n");
    EXPECT_EQ(p.fakeConsole.out, "hello\n");
    EXPECT_EQ(printer.Transcript(), L"hello\n");
    EXPECT_FALSE(p.fakeFiles.HasFile(kLog));
}

TEST_F(PrinterFixture, LogSwitchOffKeepsLogAndTranscriptUntouched) {
    printer.SetLogSwitch(0);
    printer.Print(L"a\b");
    EXPECT_EQ(p.fakeConsole.out, "a\b");
    EXPECT_EQ(printer.Transcript(), L"");
    EXPECT_FALSE(p.fakeFiles.HasFile(kLog));
}

TEST_F(PrinterFixture, EachRunAppends) {
    p.fakeFiles.SetFile(kLog, std::string("earlier\r\n"));
    printer.Print(L"now");
    EXPECT_EQ(Log(), "earlier\r\nnow");
}

TEST_F(PrinterFixture, ThreadsLoggingTogetherLoseNothing) {
    auto worker = [this](wchar_t c) {
        for (int i = 0; i < 500; ++i)
            printer.LogOnly(L"%lc", c);
    };
    std::thread a(worker, L'a'), b(worker, L'b');
    a.join();
    b.join();
    const std::wstring t = printer.Transcript();
    EXPECT_EQ(t.size(), 1000u);
    EXPECT_EQ(Log().size(), 1000u);
}

} // namespace

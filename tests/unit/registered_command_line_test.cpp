// The command line registered in RunOnce: the program by its quoted full path, relative update files made
// absolute, the test count lowered, everything else as typed.
#include <gtest/gtest.h>

#include "app/RegisteredCommandLine.h"

namespace {

const wchar_t kModule[] = L"C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe";

// Relative paths complete against the folder the program was started from.
std::wstring Full(const std::wstring& path) {
    const bool absolute = (path.size() > 2 && path[1] == L':') || (!path.empty() && path[0] == L'\\');
    return absolute ? path : L"C:\\Program Files\\Veskora\\" + path;
}

TEST(RegisteredCommandLine, ProgramAndFilesBecomeAbsoluteAndTheCountGoesDown) {
    const struct {
        const wchar_t* started;
        int nextCount;
        const wchar_t* registered;
    } cases[] = {
        // By bare name from its folder.
        {L"VskQ740FwUpdater -f fw.xsvf", -1,
         L"\"C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe\" -f \"C:\\Program Files\\Veskora\\fw.xsvf\""},
        // By full path, unquoted with blanks (which would start C:\Program.exe), and quoted.
        {L"C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe -q -f D:\\fw\\fw.xsvf", -1,
         L"\"C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe\" -q -f D:\\fw\\fw.xsvf"},
        {L"\"C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe\" -f \"D:\\my fw\\fw.xsvf\" -n", -1,
         L"\"C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe\" -f \"D:\\my fw\\fw.xsvf\" -n"},
        // A relative file with blanks, quoted, and the long spelling.
        {L"VskQ740FwUpdater.exe --flash \"new fw.xsvf\"", -1,
         L"\"C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe\" --flash \"C:\\Program Files\\Veskora\\new "
         L"fw.xsvf\""},
        // The test: both files absolute, the count lowered (the digits may shrink), nothing else touched.
        {L"VskQ740FwUpdater -f a.xsvf -tf b.xsvf -tc 10 -b", 9,
         L"\"C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe\" -f \"C:\\Program Files\\Veskora\\a.xsvf\" "
         L"-tf "
         L"\"C:\\Program Files\\Veskora\\b.xsvf\" -tc 9 -b"},
        {L"VskQ740FwUpdater -TC 12 -f D:\\a.xsvf", 11,
         L"\"C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe\" -TC 11 -f D:\\a.xsvf"},
        {L"VskQ740FwUpdater -tc 1 -f D:\\a.xsvf", 0,
         L"\"C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe\" -tc 0 -f D:\\a.xsvf"},
        // Outside the test the count is left alone; a dangling -f stays as it is.
        {L"VskQ740FwUpdater -tc 3 -f", -1, L"\"C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe\" -tc 3 -f"},
        // Only the first -f names the update file; a file name that looks like an option is a file.
        {L"VskQ740FwUpdater -f -q -f x", -1,
         L"\"C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe\" -f \"C:\\Program Files\\Veskora\\-q\" -f x"},
        // A completed path that ends in a backslash keeps its closing quote: the backslash is doubled.
        {L"VskQ740FwUpdater -f fw\\ -q", -1,
         L"\"C:\\Program Files\\Veskora\\VskQ740FwUpdater.exe\" -f \"C:\\Program Files\\Veskora\\fw\\\\\" "
         L"-q"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.started)));
        EXPECT_EQ(RegisteredCommandLine(c.started, kModule, Full, c.nextCount), c.registered);
    }
}

} // namespace

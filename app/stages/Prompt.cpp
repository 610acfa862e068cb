#include "app/stages/Prompt.h"

#include <string>

bool AskToContinue(CPrinter& printer, plat::Console& console) {
    printer.Print(L"   Press 'y' to continue, or 'n' to abort.");
    int key;
    for (;;) {
        key = console.ReadKey();
        if (key == 'y' || key == 'Y' || key == 'n' || key == 'N')
            break;
        if (key < 0) {
            key = 'n';
            break;
        }
    }
    // 39 backspaces, 39 blanks, 42 backspaces.
    const std::wstring erase = std::wstring(39, L'\b') + std::wstring(39, L' ') + std::wstring(42, L'\b');
    printer.Print(L"%ls", erase.c_str());
    return key == 'y' || key == 'Y';
}

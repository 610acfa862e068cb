#include "app/stages/UpdateFileCheck.h"

#include <string>

#include "update/UpdateFiles.h"

tagUpdateFiles CheckUpdateFiles(plat::Platform& platform, CPrinter& printer, const tagCmdLineOptions& options,
                                int32_t cardCount) {
    tagUpdateFiles files;
    files.fileName = options.flashFile;
    if (options.testCount > 0 && options.testFlashFile && (options.testCount % 2) != 0)
        files.fileName = options.testFlashFile;
    if (options.forceXsvf) {
        files.xsvfPath = true;
    } else {
        const FlashImageCheck image = CheckFlashImage(*platform.files, files.fileName);
        if (!image.found)
            files.xsvfPath = true;
        else if (image.verified)
            files.imageVerified = true;
    }
    const UpdateFileStatus check = CheckUpdateFile(*platform.files, files.fileName, files.stream);
    if (check == UpdateFileStatus::CannotOpen) {
        // Straight to the console, not logged.
        platform.console->WriteNarrow(std::string("Error: Unable to open file ") + files.fileName);
        platform.console->WriteNarrow("\n");
        files.stream.clear();
        files.result = 2;
        return files;
    }
    if (check == UpdateFileStatus::Corrupt) {
        const std::wstring name = platform.env->ToWide(files.fileName);
        printer.Print(L"\nError: %ls is corrupt and cannot be used to update your Veskora Q740 graphics "
                      L"card%ls.\n\n",
                      name.c_str(), cardCount != 1 ? L"s" : L"");
        files.stream.clear();
        files.imageVerified = false;
    }
    return files;
}

#include "system/DisplayDriver.h"

#include <utility>
#include <vector>

bool HasDriverMarker(const std::string& listing) {
    // The listing is searched as the tool wrote it, up to its first NUL.
    const std::string text = listing.substr(0, listing.find('\0'));
    for (const char* marker : {"Windows\\INF\\oem", "amd", "ati"})
        if (text.find(marker) != std::string::npos)
            return true;
    return false;
}

CDisplayDriver::CDisplayDriver(plat::Platform& platform, CChildProcesses& children,
                               std::function<void()> closeLumo)
    : platform_(platform), children_(children), closeLumo_(std::move(closeLumo)) {}

void CDisplayDriver::ExtractDevCon(const std::wstring& toolPath, bool wow64) {
    toolPath_ = toolPath;
    std::vector<uint8_t> image;
    if (platform_.resources == nullptr ||
        !platform_.resources->Find(wow64 ? "DEVCON64" : "DEVCON32", image) || image.empty())
        return;
    held_ = platform_.files->WriteAndHold(toolPath, std::string(image.begin(), image.end()));
    toolReady_ = static_cast<bool>(held_);
}

std::wstring CDisplayDriver::Command(const wchar_t* verb) const {
    // The tool's path is quoted: the temporary folder may hold blanks, and an unquoted path with blanks
    // would start whatever program its first word names.
    return L"\"" + toolPath_ + L"\" " + verb + L" \"" + kQ740DeviceId + L"\"";
}

void CDisplayDriver::QueryDisplayDriver() {
    children_.RunChildProcess(Command(L"driverfiles"), plat::kWaitForever);
    if (HasDriverMarker(children_.Captured()))
        driverPresent_ = true;
}

void CDisplayDriver::DisableDisplayDriver() {
    if (closeLumo_)
        closeLumo_();
    const uint32_t code = children_.RunChildProcess(Command(L"disable"), plat::kWaitForever);
    if (code == 0)
        driverDisabled_ = true;
    else
        disableNeedsRestart_ = true;
    if (closeLumo_)
        closeLumo_();
}

void CDisplayDriver::EnableDisplayDriver() {
    children_.RunChildProcess(Command(L"enable"), plat::kWaitForever);
}

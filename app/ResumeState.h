// The registry state an update keeps across restarts: the program's key with its values, and the RunOnce
// entry that starts the program again at the next logon.
#pragma once

#include "platform/Platform.h"

constexpr const wchar_t* kProgramKey = L"SOFTWARE\\Veskora Graphics\\VskQ740FwUpdater";
constexpr const wchar_t* kRunOnceKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr const wchar_t* kRunOnceValue = L"VskQ740FwUpdater";

// Removes the RunOnce entry and the "Config" value, so that nothing resumes after the next restart.
void ForgetResumeState(plat::Registry& registry);

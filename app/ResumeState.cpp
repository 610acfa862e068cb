#include "app/ResumeState.h"

void ForgetResumeState(plat::Registry& registry) {
    registry.DeleteValue(kRunOnceKey, kRunOnceValue);
    registry.DeleteValue(kProgramKey, L"Config");
}

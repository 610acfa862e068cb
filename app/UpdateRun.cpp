#include "app/UpdateRun.h"

int RunUpdater(plat::Platform&, int, char**) { return 1; }

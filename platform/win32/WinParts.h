// The Win32 implementations of the platform interfaces, each made by its own source file.
#pragma once

#include <memory>

#include "platform/Platform.h"

namespace plat::win {

std::unique_ptr<Console> CreateConsole();
std::unique_ptr<FileSystem> CreateFileSystem();
std::unique_ptr<Registry> CreateRegistry();
std::unique_ptr<Environment> CreateEnvironment();
std::unique_ptr<Clock> CreateClock();
std::unique_ptr<Processes> CreateProcesses();
std::unique_ptr<Power> CreatePower();
std::unique_ptr<NamedObjects> CreateNamedObjects();
std::unique_ptr<Libraries> CreateLibraries();
std::unique_ptr<Resources> CreateResources();

} // namespace plat::win

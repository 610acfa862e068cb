// The command line the run registers in RunOnce, so that the next run after a restart gets the same
// options. RunOnce starts it elsewhere (another current folder, by the shell), so everything that depends
// on the folder it was started from is made absolute, and the program is named by its quoted full path.
#pragma once

#include <functional>
#include <string>

// Completes a relative path by the current folder; an absolute path comes back unchanged.
using FullPathFn = std::function<std::wstring(const std::wstring&)>;

// From the running process's command line:
// - its first token (bare name, full path, quoted or not) becomes the quoted `modulePath`;
// - the update file after the first -f/--flash and the second file after the first -tf/--testflash become
//   their full paths, quoted, when they were relative;
// - with `nextTestCount` of 0 or more (the repeated-update test), the number after the first -tc/--testcount
//   becomes that count.
// Everything else is kept as it was typed.
std::wstring RegisteredCommandLine(const std::wstring& commandLine, const std::wstring& modulePath,
                                   const FullPathFn& fullPath, int nextTestCount = -1);

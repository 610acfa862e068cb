// q740sim probe: runs single platform operations of the simulated backend, for people and tests that want to
// see what a program sees on a machine.
#pragma once

#include <string>
#include <vector>

int RunProbe(const std::vector<std::string>& args);

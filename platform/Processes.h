// The program's own process. Child processes, process snapshots and termination join this interface.
#pragma once

namespace plat {

class Processes {
public:
    virtual ~Processes() = default;
    // Ends the process at once with the whole code (other threads may still run).
    [[noreturn]] virtual void Exit(int code) = 0;
};

} // namespace plat

// The machine's power and scheduling state as the update needs it. The power scheme values, the execution
// state, the shutdown privilege and the restart request join this interface.
#pragma once

namespace plat {

class Power {
public:
    virtual ~Power() = default;
    // Raises the program's priority class to high.
    virtual void SetHighPriority() = 0;
};

} // namespace plat

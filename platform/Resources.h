// Data carried inside the program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

class Resources {
public:
    virtual ~Resources() = default;
    // The bytes of an embedded resource by name; false when there is none.
    virtual bool Find(const std::string& name, std::vector<uint8_t>& data) = 0;
};

} // namespace plat

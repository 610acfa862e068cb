// The header each run writes to the log file: "\r\n===================\r\n", the local time as
// "dd-mm-yyyy hh:mm:ss" on a 12-hour clock, then "\r\n===================\r\n".
#pragma once

#include <cctype>
#include <string>

namespace testsupport {

// The length of the header that starts `text` at `pos`, or 0 when there is none there.
inline size_t LogHeaderAt(const std::string& text, size_t pos) {
    const std::string rule = "\r\n===================\r\n";
    const std::string shape = "00-00-0000 00:00:00";
    if (text.compare(pos, rule.size(), rule) != 0)
        return 0;
    const size_t time = pos + rule.size();
    if (text.size() < time + shape.size())
        return 0;
    for (size_t i = 0; i < shape.size(); ++i) {
        const char c = text[time + i];
        if (shape[i] == '0' ? !std::isdigit(static_cast<unsigned char>(c)) : c != shape[i])
            return 0;
    }
    const int hour = std::stoi(text.substr(time + 11, 2));
    if (hour < 1 || hour > 12)
        return 0;
    if (text.compare(time + shape.size(), rule.size(), rule) != 0)
        return 0;
    return rule.size() + shape.size() + rule.size();
}

} // namespace testsupport

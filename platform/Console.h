// The program's console: text out, keys in, its window, and the control events.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace plat {

// Console control events, as the system numbers them.
constexpr uint32_t kCtrlCEvent = 0;
constexpr uint32_t kCtrlBreakEvent = 1;
constexpr uint32_t kCtrlCloseEvent = 2;

class Console {
public:
    virtual ~Console() = default;
    // Wide text as a wide console printf would write it.
    virtual void Write(const std::wstring& text) = 0;
    // Narrow text as a narrow printf would write it (also the BEL character).
    virtual void WriteNarrow(const std::string& text) = 0;
    virtual void SetTextAttribute(uint16_t attribute) = 0;
    virtual void SetCursorVisible(bool visible) = 0;
    // Waits for one key and returns it without echo; -1 when the input has ended (never blocks forever on a
    // closed pipe or file).
    virtual int ReadKey() = 0;
    // True when a key can be read without waiting.
    virtual bool KeyAvailable() = 0;
    // The console window: 0 when there is none. The window is the console's, not the program's: nothing
    // closes it.
    virtual uintptr_t Window() = 0;
    virtual void BringToFront(uintptr_t window) = 0;
    virtual void RemoveCloseFromMenu(uintptr_t window) = 0;
    // Registers a console control handler; the handler installed last is asked first. A handler returns true
    // when it handled the event.
    virtual void AddControlHandler(std::function<bool(uint32_t)> handler) = 0;
};

} // namespace plat

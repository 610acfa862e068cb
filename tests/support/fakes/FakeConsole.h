// A console that records what is written and hands out keys from a queue.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Platform.h"

class FakeConsole : public plat::Console {
public:
    void Write(const std::wstring& text) override {
        std::lock_guard<std::mutex> g(lock);
        for (wchar_t c : text)
            out.push_back(static_cast<char>(c)); // tests print ASCII only
    }
    void WriteNarrow(const std::string& text) override {
        std::lock_guard<std::mutex> g(lock);
        out += text;
    }
    void SetTextAttribute(uint16_t attribute) override { attributes.push_back(attribute); }
    void SetCursorVisible(bool visible) override { cursor.push_back(visible); }
    int ReadKey() override {
        ++keyWaits;
        if (keys.empty())
            return -1;
        int k = keys.front();
        keys.pop_front();
        return k;
    }
    bool KeyAvailable() override { return !keys.empty(); }
    uintptr_t Window() override { return window; }
    // Called from the keep-in-front thread.
    void BringToFront(uintptr_t w) override {
        lastBroughtToFront.store(w);
        ++broughtToFront;
    }
    void RemoveCloseFromMenu(uintptr_t) override { ++closeRemoved; }
    void AddControlHandler(std::function<bool(uint32_t)> handler) override { handlers.push_back(handler); }

    std::mutex lock;
    std::string out;
    std::vector<uint16_t> attributes;
    std::vector<bool> cursor;
    std::deque<int> keys;
    int keyWaits = 0;
    uintptr_t window = 0;
    std::atomic<int> broughtToFront{0};
    std::atomic<uintptr_t> lastBroughtToFront{0};
    int closeRemoved = 0;
    std::vector<std::function<bool(uint32_t)>> handlers;
};

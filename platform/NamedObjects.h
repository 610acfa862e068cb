// Kernel objects shared by name between the processes of the machine: a named mutex, whose wait hands out a
// scoped lock, and a named shared memory block with its view. Each comes as a move-only owner that closes
// what it holds when it goes. A named event can be set by name.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "platform/Owned.h"

namespace plat {

class NamedObjects;

// A named mutex, or none (false); its handle is closed when the owner goes.
class NamedMutex {
public:
    enum class WaitResult { Acquired, Abandoned, Timeout, Failed };

    // The outcome of one wait. When the wait made this thread the mutex's owner (acquired, or abandoned by
    // an owner that ended without releasing it), the lock releases the mutex when it goes.
    class Lock {
    public:
        Lock(Lock&&) noexcept = default;
        Lock& operator=(Lock&&) = delete;

        WaitResult Result() const { return result_; }
        bool Acquired() const { return result_ == WaitResult::Acquired; }
        void Release() { owned_.Reset(); }

    private:
        friend class NamedMutex;
        struct Traits {
            using From = NamedObjects;
            static inline void Close(NamedObjects& from, uintptr_t mutex);
        };
        Lock(NamedObjects* from, uintptr_t mutex, WaitResult result)
            : owned_(result == WaitResult::Acquired || result == WaitResult::Abandoned ? from : nullptr,
                     mutex),
              result_(result) {}

        Owned<Traits> owned_; // held while the mutex is owned
        WaitResult result_;
    };

    NamedMutex() = default;

    explicit operator bool() const { return static_cast<bool>(handle_); }
    // Waits up to `milliseconds` (0xFFFFFFFF: for ever) to own the mutex. The lock must not outlive the
    // mutex owner.
    inline Lock Wait(uint32_t milliseconds);

private:
    friend class NamedObjects;
    struct Traits {
        using From = NamedObjects;
        static inline void Close(NamedObjects& from, uintptr_t handle);
    };
    NamedMutex(NamedObjects* from, uintptr_t handle) : handle_(from, handle) {}

    Owned<Traits> handle_;
};

// A named shared memory block, or none (false): open, perhaps just created, and its view once mapped.
// The view is unmapped and the handle closed when the owner goes, unless kept for the process's life.
class SharedMapping {
public:
    SharedMapping() = default;
    ~SharedMapping() { Reset(); }
    SharedMapping(SharedMapping&& other) noexcept
        : handle_(std::move(other.handle_)), view_(std::exchange(other.view_, nullptr)),
          created_(std::exchange(other.created_, false)) {}
    SharedMapping& operator=(SharedMapping&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = std::move(other.handle_);
            view_ = std::exchange(other.view_, nullptr);
            created_ = std::exchange(other.created_, false);
        }
        return *this;
    }

    explicit operator bool() const { return static_cast<bool>(handle_); }
    // True when this open created the block (zeroed); false when it existed already.
    bool Created() const { return created_; }
    // The block's memory, mapped on the first call; null when it cannot be mapped.
    inline void* View();
    // Unmaps the view and closes the handle; holds none afterwards.
    inline void Reset();
    // Leaves the block open and mapped until the process ends.
    void KeepUntilExit() {
        handle_.Forget();
        view_ = nullptr;
        created_ = false;
    }

private:
    friend class NamedObjects;
    struct Traits {
        using From = NamedObjects;
        static inline void Close(NamedObjects& from, uintptr_t handle);
    };
    SharedMapping(NamedObjects* from, uintptr_t handle, bool created)
        : handle_(from, handle), created_(handle != 0 && created) {}

    Owned<Traits> handle_;
    void* view_ = nullptr;
    bool created_ = false;
};

class NamedObjects {
public:
    virtual ~NamedObjects() = default;
    // A mutex shared by every process on the machine, created or opened by name (not owned at first);
    // an empty owner when it can be neither.
    NamedMutex CreateNamedMutex(const std::wstring& name) {
        return NamedMutex(this, CreateMutexHandle(name));
    }
    // A shared memory block opened when it exists, else created zeroed with the given size; an empty owner
    // on failure.
    SharedMapping OpenOrCreateMapping(const std::wstring& name, uint32_t size) {
        bool created = false;
        const uintptr_t handle = OpenOrCreateMappingHandle(name, size, created);
        return SharedMapping(this, handle, created);
    }
    // Opens an existing named event with full access, sets it and closes it. False when there is no such
    // event (or it cannot be opened).
    virtual bool SignalEvent(const std::wstring& name) = 0;

protected:
    friend class NamedMutex;
    friend class SharedMapping;
    // What each backend provides. Handles are never 0; 0 means failure.
    virtual uintptr_t CreateMutexHandle(const std::wstring& name) = 0;
    virtual NamedMutex::WaitResult WaitForMutex(uintptr_t mutex, uint32_t milliseconds) = 0;
    virtual void ReleaseMutexHandle(uintptr_t mutex) = 0;
    virtual uintptr_t OpenOrCreateMappingHandle(const std::wstring& name, uint32_t size, bool& created) = 0;
    virtual void* MapView(uintptr_t mapping) = 0;
    virtual void UnmapView(void* view) = 0;
    virtual void CloseObject(uintptr_t handle) = 0;
};

void NamedMutex::Lock::Traits::Close(NamedObjects& from, uintptr_t mutex) {
    from.ReleaseMutexHandle(mutex);
}

NamedMutex::Lock NamedMutex::Wait(uint32_t milliseconds) {
    NamedObjects* from = handle_.Source();
    const WaitResult result =
        from != nullptr ? from->WaitForMutex(handle_.Get(), milliseconds) : WaitResult::Failed;
    return Lock(from, handle_.Get(), result);
}

void NamedMutex::Traits::Close(NamedObjects& from, uintptr_t handle) {
    from.CloseObject(handle);
}

void SharedMapping::Traits::Close(NamedObjects& from, uintptr_t handle) {
    from.CloseObject(handle);
}

void* SharedMapping::View() {
    if (view_ == nullptr && handle_)
        view_ = handle_.Source()->MapView(handle_.Get());
    return view_;
}

void SharedMapping::Reset() {
    // The view goes before the handle.
    if (view_ != nullptr && handle_)
        handle_.Source()->UnmapView(view_);
    view_ = nullptr;
    created_ = false;
    handle_.Reset();
}

} // namespace plat

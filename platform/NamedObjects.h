// Kernel objects shared by name between the processes of the machine: a named mutex, whose wait hands out a
// scoped lock, and a named shared memory block with its view. Each comes as a move-only owner that closes
// what it holds when it goes. Named events per session join this interface.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

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
        ~Lock() { Release(); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;
        Lock(Lock&& other) noexcept
            : from_(std::exchange(other.from_, nullptr)), mutex_(other.mutex_), result_(other.result_) {}
        Lock& operator=(Lock&&) = delete;

        WaitResult Result() const { return result_; }
        bool Acquired() const { return result_ == WaitResult::Acquired; }
        inline void Release();

    private:
        friend class NamedMutex;
        Lock(NamedObjects* from, uintptr_t mutex, WaitResult result)
            : from_(result == WaitResult::Acquired || result == WaitResult::Abandoned ? from : nullptr),
              mutex_(mutex), result_(result) {}

        NamedObjects* from_; // set while the mutex is owned
        uintptr_t mutex_;
        WaitResult result_;
    };

    NamedMutex() = default;
    ~NamedMutex() { Close(); }
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;
    NamedMutex(NamedMutex&& other) noexcept
        : from_(std::exchange(other.from_, nullptr)), handle_(std::exchange(other.handle_, 0)) {}
    NamedMutex& operator=(NamedMutex&& other) noexcept {
        if (this != &other) {
            Close();
            from_ = std::exchange(other.from_, nullptr);
            handle_ = std::exchange(other.handle_, 0);
        }
        return *this;
    }

    explicit operator bool() const { return handle_ != 0; }
    // Waits up to `milliseconds` (0xFFFFFFFF: for ever) to own the mutex. The lock must not outlive the
    // mutex owner.
    inline Lock Wait(uint32_t milliseconds);

private:
    friend class NamedObjects;
    NamedMutex(NamedObjects* from, uintptr_t handle) : from_(handle != 0 ? from : nullptr), handle_(handle) {}
    inline void Close();

    NamedObjects* from_ = nullptr;
    uintptr_t handle_ = 0;
};

// A named shared memory block, or none (false): open, perhaps just created, and its view once mapped.
// The view is unmapped and the handle closed when the owner goes, unless kept for the process's life.
class SharedMapping {
public:
    SharedMapping() = default;
    ~SharedMapping() { Reset(); }
    SharedMapping(const SharedMapping&) = delete;
    SharedMapping& operator=(const SharedMapping&) = delete;
    SharedMapping(SharedMapping&& other) noexcept
        : from_(std::exchange(other.from_, nullptr)), handle_(std::exchange(other.handle_, 0)),
          view_(std::exchange(other.view_, nullptr)), created_(std::exchange(other.created_, false)) {}
    SharedMapping& operator=(SharedMapping&& other) noexcept {
        if (this != &other) {
            Reset();
            from_ = std::exchange(other.from_, nullptr);
            handle_ = std::exchange(other.handle_, 0);
            view_ = std::exchange(other.view_, nullptr);
            created_ = std::exchange(other.created_, false);
        }
        return *this;
    }

    explicit operator bool() const { return handle_ != 0; }
    // True when this open created the block (zeroed); false when it existed already.
    bool Created() const { return created_; }
    // The block's memory, mapped on the first call; null when it cannot be mapped.
    inline void* View();
    // Unmaps the view and closes the handle; holds none afterwards.
    inline void Reset();
    // Leaves the block open and mapped until the process ends.
    void KeepUntilExit() {
        from_ = nullptr;
        handle_ = 0;
        view_ = nullptr;
        created_ = false;
    }

private:
    friend class NamedObjects;
    SharedMapping(NamedObjects* from, uintptr_t handle, bool created)
        : from_(handle != 0 ? from : nullptr), handle_(handle), created_(handle != 0 && created) {}

    NamedObjects* from_ = nullptr;
    uintptr_t handle_ = 0;
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

void NamedMutex::Lock::Release() {
    if (from_ != nullptr)
        from_->ReleaseMutexHandle(mutex_);
    from_ = nullptr;
}

NamedMutex::Lock NamedMutex::Wait(uint32_t milliseconds) {
    const WaitResult result =
        from_ != nullptr ? from_->WaitForMutex(handle_, milliseconds) : WaitResult::Failed;
    return Lock(from_, handle_, result);
}

void NamedMutex::Close() {
    if (from_ != nullptr)
        from_->CloseObject(handle_);
    from_ = nullptr;
    handle_ = 0;
}

void* SharedMapping::View() {
    if (view_ == nullptr && from_ != nullptr)
        view_ = from_->MapView(handle_);
    return view_;
}

void SharedMapping::Reset() {
    if (from_ != nullptr) {
        if (view_ != nullptr)
            from_->UnmapView(view_);
        from_->CloseObject(handle_);
    }
    from_ = nullptr;
    handle_ = 0;
    view_ = nullptr;
    created_ = false;
}

} // namespace plat

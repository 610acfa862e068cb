// CMArray: the growable array of plain elements used for PCI records and byte buffers; CMAllocator is its
// allocation policy (the ordinary heap; an allocation failure throws std::bad_alloc).
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

class CMAllocator {
public:
    virtual ~CMAllocator() = default;
    virtual void* Alloc(size_t bytes) { return ::operator new(bytes); }
    virtual void Free(void* storage) { ::operator delete(storage); }
};

template <class TYPE, class ARG_TYPE = const TYPE&> class CMArray {
    static_assert(std::is_trivially_copyable<TYPE>::value, "CMArray holds plain elements only");

public:
    CMArray() = default;
    CMArray(const CMArray&) = delete;
    CMArray& operator=(const CMArray&) = delete;
    virtual ~CMArray() { Release(); }

    // Sets the element count: new elements are zero; storage grows by growBy elements at a time (worked
    // out from the size at the first growth when it is 0); a step of -1 keeps the current growBy.
    virtual void SetCount(int32_t count, int32_t step) {
        if (step != -1)
            growBy_ = step;
        if (count <= 0) {
            Release();
            return;
        }
        if (!data_) {
            data_ = Allocate(count);
            std::memset(static_cast<void*>(data_), 0, Bytes(count));
            size_ = capacity_ = count;
            return;
        }
        if (count <= capacity_) {
            if (count > size_)
                std::memset(static_cast<void*>(data_ + size_), 0, Bytes(count - size_));
            size_ = count;
            return;
        }
        if (growBy_ == 0) {
            int32_t grow = size_ / 8;
            if (grow < 4)
                grow = 4;
            if (grow > 1024)
                grow = 1024;
            growBy_ = grow;
        }
        const int64_t stepped = static_cast<int64_t>(capacity_) + (growBy_ > 0 ? growBy_ : 0);
        const int32_t newCapacity = count >= stepped ? count : static_cast<int32_t>(stepped);
        TYPE* storage = Allocate(newCapacity);
        std::memcpy(static_cast<void*>(storage), data_, Bytes(size_));
        std::memset(static_cast<void*>(storage + size_), 0, Bytes(count - size_));
        allocator_.Free(data_);
        data_ = storage;
        size_ = count;
        capacity_ = newCapacity;
    }

    virtual void SetSize(int32_t count, int32_t step) { SetCount(count, step); }

    // Shrinks the storage to the element count.
    virtual void Compact() {
        if (size_ == capacity_)
            return;
        TYPE* storage = size_ > 0 ? Allocate(size_) : nullptr;
        if (storage)
            std::memcpy(static_cast<void*>(storage), data_, Bytes(size_));
        allocator_.Free(data_);
        data_ = storage;
        capacity_ = size_;
    }

    // Stores an element, growing the array (zero-filled) when the index is at or past the end.
    virtual void PutAt(int32_t index, ARG_TYPE element) {
        if (index < 0 || index == INT32_MAX)
            return;
        if (index >= size_)
            SetCount(index + 1, -1);
        std::memcpy(static_cast<void*>(data_ + index), &element, sizeof(TYPE));
    }

    TYPE* Data() { return data_; }
    const TYPE* Data() const { return data_; }
    int32_t Size() const { return size_; }
    int32_t Capacity() const { return capacity_; }
    int32_t GrowBy() const { return growBy_; }
    TYPE& operator[](int32_t index) { return data_[index]; }
    const TYPE& operator[](int32_t index) const { return data_[index]; }

private:
    static size_t Bytes(int32_t count) { return static_cast<size_t>(count) * sizeof(TYPE); }

    TYPE* Allocate(int32_t count) { return static_cast<TYPE*>(allocator_.Alloc(Bytes(count))); }

    void Release() {
        if (data_)
            allocator_.Free(data_);
        data_ = nullptr;
        size_ = capacity_ = 0;
    }

    TYPE* data_ = nullptr;
    int32_t size_ = 0;
    int32_t capacity_ = 0;
    int32_t growBy_ = 0;
    CMAllocator allocator_;
};

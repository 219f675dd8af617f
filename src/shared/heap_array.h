#pragma once
// The one owner of heap memory in these programs: an array of plain items
// on the process heap that grows as items are added and is freed with its
// owner. Growing takes a new block and copies the old items over, since
// HeapReAlloc is not among the imports the release may use. Every call that
// needs memory says whether it got it; when it did not, the array is as it
// was.
#include <windows.h>

#include <string.h>

#include <type_traits>

template <class T>
class HeapArray {
    static_assert(std::is_trivially_copyable<T>::value, "items are moved as bytes");

 public:
    HeapArray() = default;
    ~HeapArray() { Free(); }
    HeapArray(const HeapArray&) = delete;
    HeapArray& operator=(const HeapArray&) = delete;
    HeapArray(HeapArray&& other) noexcept { Take(other); }
    HeapArray& operator=(HeapArray&& other) noexcept {
        if (this != &other) {
            Free();
            Take(other);
        }
        return *this;
    }

    T* data() { return items_; }
    const T* data() const { return items_; }
    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    T& operator[](size_t index) { return items_[index]; }
    const T& operator[](size_t index) const { return items_[index]; }
    T* begin() { return items_; }
    T* end() { return items_ + count_; }
    const T* begin() const { return items_; }
    const T* end() const { return items_ + count_; }

    bool Append(const T& item) {
        T* room = Extend(1);
        if (!room) return false;
        *room = item;
        return true;
    }
    bool Append(const T* items, size_t count) {
        T* room = Extend(count);
        if (!room) return false;
        if (count) memcpy(room, items, count * sizeof(T));
        return true;
    }
    // `count` more items, zero-filled, for the caller to fill; nullptr when
    // memory runs out.
    T* Extend(size_t count) {
        // Even no items need a place to point at: nullptr means no memory.
        if (count > MaxItems() - count_ || !Reserve(count_ + count ? count_ + count : 1))
            return nullptr;
        T* room = items_ + count_;
        memset(static_cast<void*>(room), 0, count * sizeof(T));
        count_ += count;
        return room;
    }
    // Holds `count` items: those it held stay, any more are left unzeroed
    // for the caller to fill. The items, or nullptr when memory runs out.
    T* Resize(size_t count) {
        if (!Reserve(count ? count : 1)) return nullptr;
        count_ = count;
        return items_;
    }
    // Keeps the first `count` items; more are never added this way.
    void Shorten(size_t count) {
        if (count < count_) count_ = count;
    }
    void Clear() { count_ = 0; }
    // Room for `wanted` items in all, so that appending up to there cannot fail.
    bool Reserve(size_t wanted) {
        if (wanted <= capacity_) return true;
        size_t capacity = capacity_ ? capacity_ : 16;
        while (capacity < wanted) capacity = capacity > MaxItems() / 2 ? MaxItems() : capacity * 2;
        HANDLE heap = GetProcessHeap();
        T* grown = static_cast<T*>(HeapAlloc(heap, 0, capacity * sizeof(T)));
        if (!grown) return false;
        if (count_) memcpy(static_cast<void*>(grown), items_, count_ * sizeof(T));
        if (items_) HeapFree(heap, 0, items_);
        items_ = grown;
        capacity_ = capacity;
        return true;
    }

 private:
    static constexpr size_t MaxItems() { return static_cast<size_t>(-1) / 2 / sizeof(T); }
    void Free() {
        if (items_) HeapFree(GetProcessHeap(), 0, items_);
        items_ = nullptr;
        count_ = capacity_ = 0;
    }
    void Take(HeapArray& other) {
        items_ = other.items_;
        count_ = other.count_;
        capacity_ = other.capacity_;
        other.items_ = nullptr;
        other.count_ = other.capacity_ = 0;
    }

    T* items_ = nullptr;
    size_t count_ = 0;
    size_t capacity_ = 0;
};

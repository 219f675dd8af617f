#pragma once
// One small owner per handle kind, each with its own closer and empty value.
#include <windows.h>

template <class Traits>
class Owned {
 public:
    using Type = typename Traits::Type;

    Owned() = default;
    explicit Owned(Type value) : value_(value) {}
    ~Owned() { reset(); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : value_(other.release()) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    Type get() const { return value_; }
    bool valid() const { return value_ != Traits::invalid(); }
    explicit operator bool() const { return valid(); }

    // For out-parameters: closes what is held and hands out the empty slot.
    Type* put() {
        reset();
        return &value_;
    }
    Type release() {
        Type value = value_;
        value_ = Traits::invalid();
        return value;
    }
    void reset(Type value = Traits::invalid()) {
        if (valid()) Traits::close(value_);
        value_ = value;
    }

 private:
    Type value_ = Traits::invalid();
};

struct KeyTraits {
    using Type = HKEY;
    static Type invalid() { return nullptr; }
    static void close(Type h) { RegCloseKey(h); }
};
struct ServiceTraits {
    using Type = SC_HANDLE;
    static Type invalid() { return nullptr; }
    static void close(Type h) { CloseServiceHandle(h); }
};
struct FileTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type h) { CloseHandle(h); }
};
struct FindTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type h) { FindClose(h); }
};
struct KernelTraits {
    using Type = HANDLE;
    static Type invalid() { return nullptr; }
    static void close(Type h) { CloseHandle(h); }
};

using KeyHandle = Owned<KeyTraits>;
using ServiceHandle = Owned<ServiceTraits>;
using FileHandle = Owned<FileTraits>;
using FindHandle = Owned<FindTraits>;
using KernelHandle = Owned<KernelTraits>;  // processes, threads, tokens, events

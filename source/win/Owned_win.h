#pragma once
#include <windows.h>

// The one owner for what Windows hands out to be closed: a kernel handle, a
// registry key, memory for LocalFree. Closes what it holds when it goes;
// not copyable.
template <typename T, typename Closer>
class Owned {
public:
    Owned() = default;
    explicit Owned(T value) : value_(value) {}
    ~Owned() { reset(); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    T get() const { return value_; }
    bool valid() const { return !Closer::none(value_); }
    // Where an API that returns its result through a pointer puts it.
    T* receive()
    {
        reset();
        return &value_;
    }
    // Gives up ownership, e.g. to close it and see whether that failed.
    T release()
    {
        const T value = value_;
        value_ = Closer::empty();
        return value;
    }
    void reset(T value = Closer::empty())
    {
        if (!Closer::none(value_))
            Closer::close(value_);
        value_ = value;
    }

private:
    T value_ = Closer::empty();
};

struct HandleCloser {
    static HANDLE empty() { return INVALID_HANDLE_VALUE; }
    // Some APIs fail with null, others with INVALID_HANDLE_VALUE.
    static bool none(HANDLE handle) { return handle == nullptr || handle == INVALID_HANDLE_VALUE; }
    static void close(HANDLE handle) { CloseHandle(handle); }
};

struct RegistryKeyCloser {
    static HKEY empty() { return nullptr; }
    static bool none(HKEY key) { return key == nullptr; }
    static void close(HKEY key) { RegCloseKey(key); }
};

template <typename T>
struct LocalMemoryCloser {
    static T empty() { return nullptr; }
    static bool none(T memory) { return memory == nullptr; }
    static void close(T memory) { LocalFree(memory); }
};

using UniqueHandle = Owned<HANDLE, HandleCloser>;
using RegistryKey = Owned<HKEY, RegistryKeyCloser>;
template <typename T>
using LocalPtr = Owned<T, LocalMemoryCloser<T>>;

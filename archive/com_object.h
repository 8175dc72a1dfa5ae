#pragma once
// Bookkeeping shared by the objects that are handed to the archive handler:
// an interlocked reference count and a process-wide count of live objects, so
// that a leaked reference shows up as an object that never went away.
#include <windows.h>

namespace SevenZip {
namespace intl {

// Number of callback and stream objects currently alive in this process.
LONG LiveObjectCount();

// A member of every handed-out object: counts it alive from construction to destruction.
class LiveObjectToken {
public:
    LiveObjectToken() noexcept;
    ~LiveObjectToken();
    LiveObjectToken(const LiveObjectToken&) = delete;
    LiveObjectToken& operator=(const LiveObjectToken&) = delete;
};

// Reference count starting at 0; the creator takes the first reference.
class RefCount {
public:
    ULONG Increment() noexcept { return static_cast<ULONG>(::InterlockedIncrement(&count_)); }
    ULONG Decrement() noexcept { return static_cast<ULONG>(::InterlockedDecrement(&count_)); }

private:
    LONG count_ = 0;
};

}  // namespace intl
}  // namespace SevenZip

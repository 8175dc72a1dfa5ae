#pragma once
// COM started on the calling thread for as long as a scope lives. The end
// (CoUninitialize or OleUninitialize) balances only a start that succeeded:
// S_OK, or S_FALSE when the thread had COM already. A failed start (a thread
// already in the other kind of apartment answers RPC_E_CHANGED_MODE) is not
// balanced, since the thread's COM belongs to whoever started it. A scope
// ends on the thread that started it; it is neither copied nor moved.
#include <windows.h>
#include <objbase.h>
#include <ole2.h>

class ComScope {
public:
    enum Kind {
        kApartment,      // CoInitializeEx, single-threaded apartment
        kMultiThreaded,  // CoInitializeEx, the multithreaded apartment
        kOle,            // OleInitialize: a single-threaded apartment and OLE (drag and drop, the clipboard, dialogs)
    };

    // Nothing started yet.
    ComScope() noexcept = default;
    explicit ComScope(Kind kind) noexcept { start(kind); }
    ~ComScope() { end(); }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

    // Ends what the scope held, then starts COM of the kind; the start's result.
    HRESULT start(Kind kind) noexcept {
        end();
        kind_ = kind;
        switch (kind) {
        case kOle: result_ = ::OleInitialize(nullptr); break;
        case kMultiThreaded: result_ = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED); break;
        default: result_ = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); break;
        }
        return result_;
    }
    // Balances a successful start; nothing otherwise. Safe to call twice.
    void end() noexcept {
        if (!ok()) return;
        if (kind_ == kOle)
            ::OleUninitialize();
        else
            ::CoUninitialize();
        result_ = kNotStarted;
    }
    // True while the scope holds a successful start.
    bool ok() const noexcept { return SUCCEEDED(result_); }
    // The start's result (CO_E_NOTINITIALIZED before a start and after the end).
    HRESULT result() const noexcept { return result_; }

private:
    static constexpr HRESULT kNotStarted = CO_E_NOTINITIALIZED;
    Kind kind_ = kApartment;
    HRESULT result_ = kNotStarted;
};

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

class CComScope {
public:
    enum Kind {
        kApartment,      // CoInitializeEx, single-threaded apartment
        kMultiThreaded,  // CoInitializeEx, the multithreaded apartment
        kOle,            // OleInitialize: a single-threaded apartment and OLE (drag and drop, the clipboard, dialogs)
    };

    // Nothing started yet.
    CComScope() noexcept = default;
    explicit CComScope(Kind kind) noexcept { start(kind); }
    ~CComScope() { end(); }
    CComScope(const CComScope&) = delete;
    CComScope& operator=(const CComScope&) = delete;

    // Ends what the scope held, then starts COM of the kind; the start's result.
    HRESULT start(Kind kind) noexcept {
        end();
        m_kind = kind;
        switch (kind) {
        case kOle: m_result = ::OleInitialize(nullptr); break;
        case kMultiThreaded: m_result = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED); break;
        default: m_result = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); break;
        }
        return m_result;
    }
    // Balances a successful start; nothing otherwise. Safe to call twice.
    void end() noexcept {
        if (!ok()) return;
        if (m_kind == kOle)
            ::OleUninitialize();
        else
            ::CoUninitialize();
        m_result = kNotStarted;
    }
    // True while the scope holds a successful start.
    bool ok() const noexcept { return SUCCEEDED(m_result); }
    // The start's result (CO_E_NOTINITIALIZED before a start and after the end).
    HRESULT result() const noexcept { return m_result; }

private:
    static constexpr HRESULT kNotStarted = CO_E_NOTINITIALIZED;
    Kind m_kind = kApartment;
    HRESULT m_result = kNotStarted;
};

// The COM helpers: what CComPtr counts, what the object base answers and
// counts, and which starts of COM a CComScope ends.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <ole2.h>

#include <thread>
#include <utility>

#include "util/com_object.h"
#include "util/com_ptr.h"
#include "util/com_scope.h"

namespace {

// Counts its references and never deletes itself, so that every count can be read.
struct Probe : IUnknown {
    LONG refs = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(--refs); }
};

// A call that hands out a new reference, as creating functions do.
HRESULT HandOut(Probe* probe, IUnknown** out) {
    probe->AddRef();
    *out = probe;
    return S_OK;
}

TEST(CComPtr, CountsWhatItSharesAdoptsAndGivesAway) {
    Probe a, b;
    {
        CComPtr<IUnknown> shared(&a);  // shares: the caller's own reference is not taken
        EXPECT_EQ(a.refs, 1);
        CComPtr<IUnknown> copy(shared);
        EXPECT_EQ(a.refs, 2);
        CComPtr<IUnknown> moved(std::move(copy));
        EXPECT_EQ(a.refs, 2);
        EXPECT_FALSE(copy);
        copy = shared;
        EXPECT_EQ(a.refs, 3);
        CComPtr<IUnknown>& same = copy;
        copy = same;
        EXPECT_EQ(a.refs, 3);
        copy = CComPtr<IUnknown>(&b);  // the old reference goes, the new one is shared
        EXPECT_EQ(a.refs, 2);
        EXPECT_EQ(b.refs, 1);

        IUnknown* raw = shared.detach();  // given away: nothing released
        EXPECT_FALSE(shared);
        EXPECT_EQ(a.refs, 2);
        shared.Attach(raw);  // taken back: nothing added
        EXPECT_EQ(a.refs, 2);
        shared.Attach(nullptr);  // what it held goes
        EXPECT_EQ(a.refs, 1);

        ASSERT_EQ(HandOut(&b, moved.out()), S_OK);  // out() lets go of `a`; the call's reference is kept
        EXPECT_EQ(a.refs, 0);
        EXPECT_EQ(b.refs, 2);
        HandOut(&b, reinterpret_cast<IUnknown**>(copy.outVoid()));
        EXPECT_EQ(b.refs, 2);
        moved.reset();
        EXPECT_EQ(b.refs, 1);
    }
    EXPECT_EQ(a.refs, 0);
    EXPECT_EQ(b.refs, 0);
}

// Interfaces of the test's own: a derived pair and an unrelated one.
struct IBase : IUnknown {};
struct IDerived : IBase {};
struct IOther : IUnknown {};
constexpr GUID IID_IBase = {0x5c0e7a41, 0x2b7d, 0x4f3e, {0x9a, 0x10, 0x3d, 0x22, 0x61, 0x0b, 0x7e, 0x01}};
constexpr GUID IID_IDerived = {0x5c0e7a41, 0x2b7d, 0x4f3e, {0x9a, 0x10, 0x3d, 0x22, 0x61, 0x0b, 0x7e, 0x02}};
constexpr GUID IID_IOther = {0x5c0e7a41, 0x2b7d, 0x4f3e, {0x9a, 0x10, 0x3d, 0x22, 0x61, 0x0b, 0x7e, 0x03}};

// Tells when it is deleted.
class Sample final
    : public CComObject<ComInterface<IDerived, &IID_IBase, &IID_IDerived>, ComInterface<IOther, &IID_IOther>> {
public:
    explicit Sample(bool* gone) : gone_(gone) {}
    ~Sample() override { *gone_ = true; }

private:
    bool* gone_;
};

TEST(CComObject, StartsAtOneAnswersOnlyItsTableAndGoesWithTheLastReference) {
    bool gone = false;
    const LONG before = LiveComObjectCount();
    CComPtr<Sample> object = MakeCom<Sample>(&gone);
    EXPECT_EQ(LiveComObjectCount(), before + 1);
    EXPECT_EQ(object->AddRef(), 2u);
    EXPECT_EQ(object->Release(), 1u);
    IUnknown* first = static_cast<IDerived*>(object.get());
    IUnknown* second = static_cast<IOther*>(object.get());
    // What an id is answered with, the one reference the answer added given
    // back; null for E_NOINTERFACE with a null out-pointer.
    auto ask = [](IUnknown* from, const GUID& id) -> void* {
        static char untouched;
        void* out = &untouched;
        const HRESULT hr = from->QueryInterface(id, &out);
        if (hr != S_OK) return hr == E_NOINTERFACE && !out ? nullptr : &untouched;
        EXPECT_EQ(static_cast<IUnknown*>(out)->Release(), 1u);
        return out;
    };
    EXPECT_EQ(ask(second, IID_IUnknown), first);  // the first interface, whichever is asked
    EXPECT_EQ(ask(second, IID_IBase), static_cast<IBase*>(object.get()));
    EXPECT_EQ(ask(second, IID_IDerived), first);
    EXPECT_EQ(ask(first, IID_IOther), second);
    EXPECT_EQ(ask(first, IID_IDispatch), nullptr);
    EXPECT_EQ(first->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

    CComPtr<IOther> other = object;  // the same object, seen as one of its interfaces
    EXPECT_EQ(other.get(), second);
    object.reset();
    EXPECT_FALSE(gone);
    other.reset();
    EXPECT_TRUE(gone);
    EXPECT_EQ(LiveComObjectCount(), before);
}

// Whether COM is started on this thread: a further start says S_FALSE (and is balanced at once).
HRESULT StartAgain(DWORD model) {
    const HRESULT hr = ::CoInitializeEx(nullptr, model);
    if (SUCCEEDED(hr)) ::CoUninitialize();
    return hr;
}

// Each case on a thread of its own, which starts without COM.
void OnNewThread(void (*body)()) { std::thread(body).join(); }

TEST(CComScope, EndsOnlyAStartThatSucceeded) {
    OnNewThread([] {
        {
            CComScope com(CComScope::kApartment);
            EXPECT_EQ(com.result(), S_OK);
            EXPECT_EQ(StartAgain(COINIT_APARTMENTTHREADED), S_FALSE);
        }
        EXPECT_EQ(StartAgain(COINIT_MULTITHREADED), S_OK);  // nothing left behind
        {
            CComScope ole(CComScope::kOle);
            EXPECT_TRUE(ole.ok());
        }
        EXPECT_EQ(StartAgain(COINIT_MULTITHREADED), S_OK);
    });
    OnNewThread([] {
        // COM started by someone else: a start that finds it (S_FALSE) is ended once.
        ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        CComScope com(CComScope::kApartment);
        EXPECT_EQ(com.result(), S_FALSE);
        com.end();
        com.end();
        EXPECT_EQ(StartAgain(COINIT_APARTMENTTHREADED), S_FALSE);  // the other start still holds
        ::CoUninitialize();
    });
    OnNewThread([] {
        // A start that fails (the other apartment kind) is not ended, nor is none at all.
        ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        {
            CComScope idle;
            CComScope com(CComScope::kApartment);
            CComScope ole(CComScope::kOle);
            EXPECT_EQ(com.result(), RPC_E_CHANGED_MODE);
            EXPECT_EQ(ole.result(), RPC_E_CHANGED_MODE);
        }
        EXPECT_EQ(StartAgain(COINIT_MULTITHREADED), S_FALSE);
        ::CoUninitialize();
    });
}

}  // namespace

#include "util/failed_call.h"

#include "util/owned.h"
#include "util/text.h"

namespace {

thread_local CFailedCall t_last;

using NtStatusToDosErrorFn = ULONG(WINAPI*)(LONG);

}  // namespace

bool NoteFailedCall(const char* call, const std::wstring& path, DWORD error) {
    const DWORD code = error != 0 ? error : ::GetLastError();
    try {
        t_last.call = call;
        t_last.error = code;
        t_last.path = path;
    } catch (...) {
    }
    return false;
}

bool NoteRefusal(const char* reason, const std::wstring& path) {
    try {
        t_last.call = reason;
        t_last.error = 0;
        t_last.path = path;
    } catch (...) {
    }
    return false;
}

bool NoteFailedNtCall(const char* call, const std::wstring& path, long status) {
    static const auto convert = reinterpret_cast<NtStatusToDosErrorFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlNtStatusToDosError")));
    const DWORD error = convert ? convert(status) : ERROR_GEN_FAILURE;
    return NoteFailedCall(call, path, error != 0 ? error : ERROR_GEN_FAILURE);
}

const CFailedCall& LastFailedCall() { return t_last; }

void ClearFailedCall() { t_last = CFailedCall(); }

std::string Win32ErrorText(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    UniqueLocalMem owned(buffer);
    std::wstring text = length && buffer ? std::wstring(buffer, length) : std::wstring(L"(no text)");
    for (wchar_t& c : text)
        if (c == L'\r' || c == L'\n') c = L' ';
    while (!text.empty() && text.back() == L' ') text.pop_back();
    return WideToUtf8(text);
}

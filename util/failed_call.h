#pragma once
// The last system call that failed on this thread, noted where it failed, so
// that a caller several levels up (a step of an installation) can say in its
// log which call failed, on which path and with which error, although the
// functions in between only answer true or false.
#include <windows.h>

#include <string>

struct CFailedCall {
    std::string call;   // the function, as its documentation names it ("NtSetInformationFile(FileRenameInformation)")
    DWORD error = 0;    // a Win32 error code; 0 for a refusal by a check
    std::wstring path;  // what it was called on; may be empty
};

// Notes a failure; `error` 0 takes GetLastError(). Returns false, so that a
// failing branch can end with `return NoteFailedCall(...)`.
bool NoteFailedCall(const char* call, const std::wstring& path, DWORD error = 0);
// Notes that a check refused to go on (no call failed): `reason` says why.
bool NoteRefusal(const char* reason, const std::wstring& path);
// The same for a call that reports an NTSTATUS.
bool NoteFailedNtCall(const char* call, const std::wstring& path, long status);
// The last failure noted on this thread since the last Clear (empty call: none).
const CFailedCall& LastFailedCall();
void ClearFailedCall();

// The system's text for a Win32 error code, as UTF-8 on one line.
std::string Win32ErrorText(DWORD error);

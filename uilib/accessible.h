#pragma once
// The accessible object of a layout-built window's client area (MSAA): its
// children are the controls the paint manager lists for assistive
// technology, addressed as simple elements.
//
// Child ids: 1 .. count address the controls visible now, in layout order
// (what IEnumVARIANT, navigation, hit testing and the focus hand out); the
// negative of a control's accessible id addresses that control for the
// window's whole life (what WinEvents carry, so that a client that answers
// an event late still reaches the control the event was about).
#include <windows.h>
#include <ole2.h>
#include <oleacc.h>

#include "util/com_ptr.h"

class CPaintManagerUI;

namespace uilib {

// A new object; the pointer holds its only reference.
CComPtr<IAccessible> CreateWindowAccessible(CPaintManagerUI* manager);
// The window is going: every later call on the object fails.
void DetachWindowAccessible(IAccessible* object);

// oleacc.dll's functions, loaded on first use (a window nobody asks about
// never loads the library).
LRESULT AccLresultFromObject(REFIID riid, WPARAM wParam, IUnknown* object);
HRESULT AccObjectFromWindow(HWND hwnd, DWORD objectId, REFIID riid, void** object);

}  // namespace uilib

#pragma once
// Basic types of the skinned-window library: its own string and rectangle,
// the notification record, the callback interfaces and the plain window class.
// Nothing of the C++ standard library appears in the exported interface: the
// library and its users each carry their own runtime.
#include <windows.h>

#if defined(UILIB_BUILDING)
#define UILIB_API __declspec(dllexport)
#else
#define UILIB_API __declspec(dllimport)
#endif

// Where WindowImplBase finds its layout (GetResourceType).
enum UILIB_RESOURCETYPE {
    UILIB_FILE = 1,         // a file in the resource path + skin folder
    UILIB_ZIP = 2,          // a ZIP file (GetZIPFileName) in the resource path
    UILIB_RESOURCE = 3,     // a resource of type "XML" named by the skin file
    UILIB_ZIPRESOURCE = 4,  // a ZIP archive in resource type "ZIPRES", id GetResourceID
};

// Growable UTF-16 text. All memory is owned by the library.
class UILIB_API CDuiString {
public:
    CDuiString();
    CDuiString(const wchar_t* text, int length = -1);
    CDuiString(wchar_t ch);
    CDuiString(const CDuiString& other);
    ~CDuiString();

    CDuiString& operator=(const CDuiString& other);
    CDuiString& operator=(const wchar_t* text);
    CDuiString& operator+=(const CDuiString& other);
    CDuiString& operator+=(const wchar_t* text);
    CDuiString& operator+=(wchar_t ch);
    CDuiString operator+(const CDuiString& other) const;
    CDuiString operator+(const wchar_t* text) const;

    bool operator==(const wchar_t* text) const;
    bool operator==(const CDuiString& other) const;
    bool operator!=(const wchar_t* text) const;
    bool operator!=(const CDuiString& other) const;
    bool operator<(const CDuiString& other) const;
    wchar_t operator[](int index) const;
    operator const wchar_t*() const;

    const wchar_t* GetData() const;
    int GetLength() const;
    bool IsEmpty() const;
    void Empty();
    void Assign(const wchar_t* text, int length = -1);
    void Append(const wchar_t* text, int length = -1);
    int Compare(const wchar_t* text) const;
    int CompareNoCase(const wchar_t* text) const;
    int Find(wchar_t ch, int start = 0) const;
    int Find(const wchar_t* text, int start = 0) const;
    CDuiString Left(int count) const;
    CDuiString Mid(int start, int count = -1) const;
    CDuiString Right(int count) const;
    void MakeLower();
    // printf-style formatting (wide); replaces the content.
    int Format(const wchar_t* format, ...);

private:
    void Reserve(int capacity);
    wchar_t* m_data;
    int m_length;
    int m_capacity;
    wchar_t m_small[16];
};

class UILIB_API CDuiRect : public RECT {
public:
    CDuiRect();
    CDuiRect(const RECT& rc);
    CDuiRect(int l, int t, int r, int b);
    int GetWidth() const;
    int GetHeight() const;
    bool IsNull() const;
    bool IsPtIn(POINT pt) const;
    void Empty();
    void Join(const RECT& rc);
    void Offset(int cx, int cy);
    void Inflate(int cx, int cy);
    void Deflate(int cx, int cy);
    void Intersect(const RECT& rc);
};

class CControlUI;
class CPaintManagerUI;

// One notification from a control to the window's notifiers.
struct TNotifyUI {
    CDuiString sType;  // "windowinit", "click", "setfocus", ...
    CDuiString sVirtualWnd;
    CControlUI* pSender;
    DWORD dwTimestamp;
    POINT ptMouse;
    WPARAM wParam;
    LPARAM lParam;
};

class UILIB_API INotifyUI {
public:
    virtual void Notify(TNotifyUI& msg) = 0;
};

class UILIB_API IMessageFilterUI {
public:
    virtual LRESULT MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& bHandled) = 0;
};

class UILIB_API IDialogBuilderCallback {
public:
    // Creates a control for a layout element the library does not know, or null.
    virtual CControlUI* CreateControl(const wchar_t* pstrClass) = 0;
};

// Routes notifications by type (and optionally control name) to member
// functions of a derived class through a static message map.
class CNotifyPump;
typedef void (CNotifyPump::*DUI_PMSG)(TNotifyUI& msg);

struct DUI_MSGMAP_ENTRY {
    const wchar_t* sMsgType;   // notification type
    const wchar_t* sCtrlName;  // sender name, or null for any sender
    DUI_PMSG pfn;
};

struct DUI_MSGMAP {
    const DUI_MSGMAP* pBaseMap;
    const DUI_MSGMAP_ENTRY* lpEntries;  // ends with an entry whose sMsgType is null
};

class UILIB_API CNotifyPump {
public:
    CNotifyPump();
    virtual ~CNotifyPump();
    // Adds a named sub-handler that receives notifications whose sVirtualWnd
    // equals the name. The pump does not own it.
    bool AddVirtualWnd(const wchar_t* name, CNotifyPump* pump);
    bool RemoveVirtualWnd(const wchar_t* name);
    // Runs the handler of the first matching map entry; true if one ran.
    bool NotifyPump(TNotifyUI& msg);

protected:
    virtual const DUI_MSGMAP* GetMessageMap() const;

private:
    struct VirtualWnds;
    VirtualWnds* m_virtual;
};

// A plain Win32 window bound to a C++ object.
class UILIB_API CWindowWnd {
public:
    CWindowWnd();

    HWND GetHWND() const;
    operator HWND() const;

    bool RegisterWindowClass();
    bool RegisterSuperclass();

    HWND Create(HWND hwndParent, const wchar_t* pstrName, DWORD dwStyle, DWORD dwExStyle, const RECT& rc,
                HMENU hMenu = NULL);
    HWND Create(HWND hwndParent, const wchar_t* pstrName, DWORD dwStyle, DWORD dwExStyle, int x = CW_USEDEFAULT,
                int y = CW_USEDEFAULT, int cx = CW_USEDEFAULT, int cy = CW_USEDEFAULT, HMENU hMenu = NULL);
    HWND Subclass(HWND hWnd);
    void Unsubclass();
    void ShowWindow(bool bShow = true, bool bTakeFocus = true);
    UINT ShowModal();
    void CenterWindow();
    // Sets the large and small window icons from an icon resource of the
    // library's instance module.
    void SetIcon(UINT nRes);

    LRESULT SendMessage(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0L);
    LRESULT PostMessage(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0L);
    void ResizeClient(int cx = -1, int cy = -1);

    virtual void Close(UINT nRet = IDOK);

protected:
    virtual const wchar_t* GetWindowClassName() const = 0;
    virtual const wchar_t* GetSuperClassName() const;
    virtual UINT GetClassStyle() const;
    virtual LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
    virtual void OnFinalMessage(HWND hWnd);

public:
    virtual ~CWindowWnd();

protected:
    static LRESULT CALLBACK __WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK __ControlProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd;
    WNDPROC m_OldWndProc;
    bool m_bSubclassed;
};

#pragma once
// The paint manager: owns a window's control tree, lays it out, paints it
// double-buffered, turns mouse input into control events and notifications,
// and holds the skin's fonts, pictures, caption and shadow.
#include "uilib/uibase.h"
#include "uilib/uicontrols.h"

class UILIB_API CPaintManagerUI {
public:
    CPaintManagerUI();
    ~CPaintManagerUI();
    CPaintManagerUI(const CPaintManagerUI&) = delete;
    CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;

    // --- process-wide -------------------------------------------------------
    static void SetInstance(HINSTANCE hInst);
    static HINSTANCE GetInstance();
    // Folder of the instance module, ending in a separator.
    static CDuiString GetInstancePath();
    static void SetResourcePath(const wchar_t* path);
    static CDuiString GetResourcePath();
    // Module whose resources hold the skin (default: the instance).
    static void SetResourceDll(HINSTANCE hInst);
    static HINSTANCE GetResourceDll();
    // Dispatches messages until WM_QUIT; returns its exit code.
    static int MessageLoop();
    static bool TranslateMessage(const MSG* msg);

    // --- one window -------------------------------------------------------------
    void Init(HWND hWnd);
    HWND GetPaintWindow() const;
    bool AttachDialog(CControlUI* root);
    CControlUI* GetRoot() const;
    bool AddNotifier(INotifyUI* notifier);
    bool RemoveNotifier(INotifyUI* notifier);
    bool AddPreMessageFilter(IMessageFilterUI* filter);
    bool RemovePreMessageFilter(IMessageFilterUI* filter);
    bool AddMessageFilter(IMessageFilterUI* filter);
    bool RemoveMessageFilter(IMessageFilterUI* filter);

    // Handles one message of the window; true if it was consumed (lRes holds
    // the result), false if default handling should follow.
    bool MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);
    bool PreMessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);

    CControlUI* FindControl(const wchar_t* name) const;
    // The topmost visible control under a client point, or null.
    CControlUI* FindControl(POINT pt) const;
    void SendNotify(CControlUI* control, const wchar_t* type, WPARAM wParam = 0, LPARAM lParam = 0);
    void SendNotify(TNotifyUI& msg);

    // Window attributes of the layout.
    SIZE GetInitSize() const;
    void SetInitSize(int cx, int cy);
    RECT& GetCaptionRect();
    void SetCaptionRect(const RECT& rc);
    SIZE GetRoundCorner() const;
    void SetRoundCorner(int cx, int cy);
    SIZE GetMinInfo() const;
    void SetMinInfo(int cx, int cy);
    void SetTransparent(bool transparent);
    bool IsTransparent() const;
    // The shadow: a picture cut at its corners (left, top, right, bottom),
    // drawn around the window by a separate layered window.
    void SetShadow(bool show, const wchar_t* image, const RECT& corner);
    bool IsShadowShown() const;
    HWND GetShadowWindow() const;
    // Renders the shadow for a window of the given size into a new 32-bit
    // premultiplied top-down DIB section (the bitmap handed to the system);
    // the caller deletes it. Null without a shadow picture.
    HBITMAP CreateShadowBitmap(SIZE windowSize);

    // Fonts in declaration order; index -1 (or out of range) means the default.
    int AddFont(const wchar_t* face, int size, bool bold, bool underline, bool italic);
    void SetDefaultFont(const wchar_t* face, int size, bool bold, bool underline, bool italic);
    HFONT GetFont(int index) const;
    int GetFontCount() const;
    DWORD GetDefaultDisabledColor() const;

    // Skin source: a ZIP archive in memory (kept by reference; must outlive the
    // manager) or files below the resource path.
    bool SetResourceZip(const void* data, unsigned size);
    // Folder (below the resource path) of the skin's files when they are
    // read from the file system.
    void SetSkinFolder(const wchar_t* folder);
    // Reads one file of the skin; the buffer belongs to the caller and is
    // freed with FreeResourceData. False if absent.
    bool LoadResourceData(const wchar_t* name, BYTE** data, DWORD* size) const;
    static void FreeResourceData(BYTE* data);
    // Size of a skin picture, or false if it cannot be loaded.
    bool GetImageSize(const wchar_t* file, SIZE* size);
    // Draws a picture description (file='..' source='..' dest='..' corner='..'
    // fade='..', or a bare file name) into rcItem; dest is relative to rcItem.
    bool DrawImage(HDC hDC, const RECT& rcItem, const RECT& rcPaint, const wchar_t* description);

    void NeedUpdate();
    void Invalidate();
    void Invalidate(const RECT& rc);
    // Lays out (if needed) and paints the whole tree into hDC.
    void RenderTo(HDC hDC);

    void SetCapture();
    void ReleaseCapture();
    bool IsCaptured() const;
    void ReapObjects(CControlUI* control);

    // --- keyboard focus -------------------------------------------------------
    // Tab and Shift+Tab move the focus through the visible enabled tab stops
    // in layout order; Space presses the focused button; Enter presses the
    // focused button or link, else the visible default button; Escape the
    // visible cancel button. A mark in the skin's focus colour surrounds the
    // focused control once the keyboard has moved the focus.
    // The focused control, or null (the window itself).
    CControlUI* GetFocus() const;
    // Null gives the focus back to the window. A rich edit takes the system
    // focus into its own window. With `showMark` the focus mark is drawn.
    void SetFocus(CControlUI* control, bool showMark = false);
    // Tab (forward) or Shift+Tab; false when no control can take the focus.
    bool MoveFocus(bool forward);
    bool IsFocusMarkShown() const;
    // The mark's rectangle (pixels) around a control; empty for none.
    RECT GetFocusMarkRect(CControlUI* control);
    // The window's mark colour (ARGB), from the layout's "focuscolor".
    void SetFocusColor(DWORD color);
    DWORD GetFocusColor() const;

    // --- display scale ----------------------------------------------------------
    // The layout's units are pixels at 96 DPI; the window's DPI (from the
    // system, and WM_DPICHANGED) scales sizes, positions, fonts, the caption
    // strip and the shadow, and picks the skin's pictures drawn nearest to it.
    UINT GetDpi() const;
    // Takes a new DPI: fonts, pictures, the window's size and the layout follow.
    void SetDpi(UINT dpi);
    int Scale(int value) const;
    RECT ScaleRect(const RECT& rc) const;

    // --- assistive technology --------------------------------------------------
    // The window answers WM_GETOBJECT for its client with an IAccessible whose
    // children are the controls below, and raises WinEvents as they change.
    // The controls assistive technology sees now: visible, with a role, in
    // layout order.
    int GetAccessibleCount() const;
    CControlUI* GetAccessibleAt(int index) const;
    // A control's place in that list, or -1.
    int GetAccessibleIndex(CControlUI* control) const;
    // A number (1 and up) that names the control for the window's life; its
    // negative is the child id of the control's WinEvents.
    LONG GetAccessibleId(CControlUI* control);
    CControlUI* FindAccessibleId(LONG id) const;
    // The client's name: that of the first visible container with an
    // accessible name (the page), else the window's text.
    CDuiString GetAccessibleName() const;
    // Raises a WinEvent for a control, or for the client when null.
    void NotifyAccessibleEvent(DWORD event, CControlUI* control);
    // Presses a control as a click would, once the current message is done
    // (assistive technology's default action).
    bool PostActivate(CControlUI* control);

private:
    // MessageHandler's families of messages; each returns true when it
    // consumed the message (lRes holds the result).
    bool OnOwnMessage(UINT uMsg, LPARAM lParam, LRESULT& lRes);
    bool OnPaintMessage(UINT uMsg, WPARAM wParam, LRESULT& lRes);
    bool OnPlacementMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);
    bool OnKeyboardMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);
    bool OnMouseMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);
    bool OnLifetimeMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);

    struct Impl;
    Impl* m_impl;
};

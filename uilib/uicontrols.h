#pragma once
// Controls of the skinned-window library: the base control, containers and
// layouts, labels, buttons, options, the progress bar and the rich-edit box.
#include "uilib/uibase.h"
#include <richedit.h>

class CPaintManagerUI;

enum UIEVENT_TYPE {
    UIEVENT_MOUSEMOVE = 1,
    UIEVENT_MOUSELEAVE,
    UIEVENT_MOUSEENTER,
    UIEVENT_BUTTONDOWN,
    UIEVENT_BUTTONUP,
    UIEVENT_DBLCLICK,
    UIEVENT_SETCURSOR,
    UIEVENT_KILLCAPTURE,  // the press ended without a release over the window
};

struct TEventUI {
    int Type;
    CControlUI* pSender;
    DWORD dwTimestamp;
    POINT ptMouse;
    WPARAM wParam;
    LPARAM lParam;
};

// Button states, combined as bits.
enum {
    UISTATE_HOT = 0x01,
    UISTATE_PUSHED = 0x02,
    UISTATE_CAPTURED = 0x04,
    UISTATE_SELECTED = 0x08,
};

// Flags of CControlUI::FindControl.
enum {
    UIFIND_ALL = 0x00,
    UIFIND_VISIBLE = 0x01,
    UIFIND_ENABLED = 0x02,
    UIFIND_HITTEST = 0x04,
    UIFIND_TOP_FIRST = 0x08,
};

typedef CControlUI*(CALLBACK* FINDCONTROLPROC)(CControlUI*, LPVOID);

// Accessible roles are the system's ROLE_SYSTEM_* values; these two mean "the
// kind's own role" and "not shown to assistive technology at all".
const DWORD UIROLE_DEFAULT = 0;
const DWORD UIROLE_NONE = 0xFFFFFFFF;

class UILIB_API CControlUI {
public:
    CControlUI();
    virtual ~CControlUI();

    virtual CDuiString GetName() const;
    virtual void SetName(const wchar_t* name);
    virtual const wchar_t* GetClass() const;
    // The control as the named kind ("Control", "Button", ...), or null.
    virtual LPVOID GetInterface(const wchar_t* name);

    virtual CDuiString GetText() const;
    virtual void SetText(const wchar_t* text);

    DWORD GetBkColor() const;
    void SetBkColor(DWORD color);
    const wchar_t* GetBkImage() const;
    void SetBkImage(const wchar_t* description);
    const wchar_t* GetForeImage() const;
    void SetForeImage(const wchar_t* description);
    DWORD GetBorderColor() const;
    void SetBorderColor(DWORD color);
    int GetBorderSize() const;
    void SetBorderSize(int size);

    virtual const RECT& GetPos() const;
    virtual void SetPos(RECT rc);
    virtual int GetFixedWidth() const;
    virtual void SetFixedWidth(int cx);
    virtual int GetFixedHeight() const;
    virtual void SetFixedHeight(int cy);
    virtual RECT GetPadding() const;
    virtual void SetPadding(RECT rc);
    bool IsFloat() const;
    void SetFloat(bool floating);
    // For a floating control: its rectangle relative to the parent's top-left.
    RECT GetFloatPos() const;
    void SetFloatPos(RECT rc);

    // Visible: the control's own flag and that of every ancestor.
    virtual bool IsVisible() const;
    virtual void SetVisible(bool visible = true);
    virtual void SetInternVisible(bool visible = true);
    virtual bool IsEnabled() const;
    virtual void SetEnabled(bool enable = true);

    CControlUI* GetParent() const;
    CPaintManagerUI* GetManager() const;
    virtual void SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init = true);
    virtual CControlUI* FindControl(FINDCONTROLPROC proc, LPVOID data, UINT flags);

    virtual void Init();
    virtual void DoInit();
    virtual void DoEvent(TEventUI& event);
    virtual bool Activate();
    virtual void SetAttribute(const wchar_t* name, const wchar_t* value);
    virtual SIZE EstimateSize(SIZE available);

    virtual void DoPaint(HDC hDC, const RECT& rcPaint);
    virtual void PaintBkColor(HDC hDC);
    virtual void PaintBkImage(HDC hDC);
    virtual void PaintStatusImage(HDC hDC);
    virtual void PaintForeImage(HDC hDC);
    virtual void PaintText(HDC hDC);
    virtual void PaintBorder(HDC hDC);

    void Invalidate();
    void NeedUpdate();
    void NeedParentUpdate();
    // Draws a picture description relative to this control's rectangle.
    bool DrawImage(HDC hDC, const wchar_t* description);

    // Called by the paint manager after every layout pass, with the
    // control's effective visibility (controls that own a system window
    // move or hide it here).
    virtual void OnLayoutDone(bool effectivelyVisible);

    // --- keyboard and assistive technology ---------------------------------
    // The role assistive technology is told: the layout's or the window's
    // choice, else the kind's own (push button for buttons, check button for
    // options, static text for labels, progress bar, editable text for rich
    // edits; none for containers and plain controls). UIROLE_NONE when the
    // control is not shown to assistive technology.
    DWORD GetAccessibleRole() const;
    void SetAccessibleRole(DWORD role);
    // The name read out: the layout's or the window's choice, else the text.
    CDuiString GetAccessibleName() const;
    void SetAccessibleName(const wchar_t* name);
    // Checked state of a check button whose look the window switches itself
    // (options report their own selection).
    bool IsAccessibleChecked() const;
    void SetAccessibleChecked(bool checked);
    // Whether Tab stops at the control: buttons, options and rich edits do
    // unless the layout says otherwise.
    bool IsTabStop() const;
    void SetTabStop(bool tabStop);
    // Enter presses the visible default button when the focus is on no
    // button; Escape presses the visible cancel button.
    bool IsDefaultButton() const;
    void SetDefaultButton(bool isDefault);
    bool IsCancelButton() const;
    void SetCancelButton(bool isCancel);
    // Colour (ARGB) of the keyboard focus mark around the control; 0: the
    // window's.
    DWORD GetFocusColor() const;
    void SetFocusColor(DWORD color);
    bool IsFocused() const;
    void SetFocus();
    // The control's rectangle in layout units (96 DPI); GetPos is in pixels.
    const RECT& GetLayoutPos() const;

protected:
    CPaintManagerUI* m_pManager;
    CControlUI* m_pParent;
    CDuiString m_sName;
    CDuiString m_sText;
    CDuiString m_sBkImage;
    CDuiString m_sForeImage;
    DWORD m_dwBkColor;
    DWORD m_dwBorderColor;
    int m_nBorderSize;
    RECT m_rcItem;
    RECT m_rcPadding;
    RECT m_rcFloat;
    SIZE m_cxyFixed;
    bool m_bVisible;
    bool m_bInternVisible;
    bool m_bEnabled;
    bool m_bFloat;
    RECT m_rcLayout;
    DWORD m_dwAccRole;
    CDuiString m_sAccName;
    bool m_bAccChecked;
    int m_nTabStop;  // -1: the kind's default
    bool m_bDefaultButton;
    bool m_bCancelButton;
    DWORD m_dwFocusColor;
};

class UILIB_API CContainerUI : public CControlUI {
public:
    CContainerUI();
    ~CContainerUI() override;

    const wchar_t* GetClass() const override;
    LPVOID GetInterface(const wchar_t* name) override;

    CControlUI* GetItemAt(int index) const;
    int GetCount() const;
    int GetItemIndex(CControlUI* control) const;
    virtual bool Add(CControlUI* control);
    virtual bool AddAt(CControlUI* control, int index);
    // Removes and deletes the control.
    virtual bool Remove(CControlUI* control);
    virtual void RemoveAll();

    RECT GetInset() const;
    void SetInset(RECT rc);

    void SetVisible(bool visible = true) override;
    void SetInternVisible(bool visible = true) override;
    void SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init = true) override;
    CControlUI* FindControl(FINDCONTROLPROC proc, LPVOID data, UINT flags) override;
    void DoPaint(HDC hDC, const RECT& rcPaint) override;
    void SetPos(RECT rc) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;

protected:
    // Places a floating child at its position relative to this container.
    void SetFloatPos(CControlUI* child);
    // Places the other visible children one after another along one axis
    // (top to bottom, or left to right): children without a fixed length
    // share what the fixed ones leave, and those without a fixed breadth fill
    // the container across.
    void StackChildren(RECT rc, bool vertical);
    bool Grow();

    CControlUI** m_items;
    int m_count;
    int m_capacity;
    RECT m_rcInset;
};

class UILIB_API CVerticalLayoutUI : public CContainerUI {
public:
    const wchar_t* GetClass() const override;
    LPVOID GetInterface(const wchar_t* name) override;
    void SetPos(RECT rc) override;
};

class UILIB_API CHorizontalLayoutUI : public CContainerUI {
public:
    const wchar_t* GetClass() const override;
    LPVOID GetInterface(const wchar_t* name) override;
    void SetPos(RECT rc) override;
};

class UILIB_API CLabelUI : public CControlUI {
public:
    CLabelUI();
    const wchar_t* GetClass() const override;
    LPVOID GetInterface(const wchar_t* name) override;

    void SetTextStyle(UINT style);  // DT_ flags
    UINT GetTextStyle() const;
    virtual void SetTextColor(DWORD color);
    virtual DWORD GetTextColor() const;
    void SetDisabledTextColor(DWORD color);
    void SetFont(int index);
    int GetFont() const;
    RECT GetTextPadding() const;
    void SetTextPadding(RECT rc);

    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    void PaintText(HDC hDC) override;

protected:
    void DrawTextIn(HDC hDC, DWORD color);

    DWORD m_dwTextColor;
    DWORD m_dwDisabledTextColor;
    int m_iFont;
    UINT m_uTextStyle;
    RECT m_rcTextPadding;
};

// Multi-line text (word-wrapped).
class UILIB_API CTextUI : public CLabelUI {
public:
    CTextUI();
    const wchar_t* GetClass() const override;
    LPVOID GetInterface(const wchar_t* name) override;
};

class UILIB_API CButtonUI : public CLabelUI {
public:
    CButtonUI();
    const wchar_t* GetClass() const override;
    LPVOID GetInterface(const wchar_t* name) override;

    void SetNormalImage(const wchar_t* description);
    void SetHotImage(const wchar_t* description);
    void SetPushedImage(const wchar_t* description);
    void SetDisabledImage(const wchar_t* description);
    void SetHotTextColor(DWORD color);
    void SetPushedTextColor(DWORD color);
    const wchar_t* GetNormalImage() const;
    UINT GetButtonState() const;

    bool Activate() override;
    void SetEnabled(bool enable = true) override;
    void SetVisible(bool visible = true) override;
    void DoEvent(TEventUI& event) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    void PaintText(HDC hDC) override;
    void PaintStatusImage(HDC hDC) override;

protected:
    UINT m_uButtonState;
    DWORD m_dwHotTextColor;
    DWORD m_dwPushedTextColor;
    CDuiString m_sNormalImage;
    CDuiString m_sHotImage;
    CDuiString m_sPushedImage;
    CDuiString m_sDisabledImage;
};

// A button that stays selected; options of one group exclude each other.
class UILIB_API COptionUI : public CButtonUI {
public:
    COptionUI();
    ~COptionUI() override;
    const wchar_t* GetClass() const override;
    LPVOID GetInterface(const wchar_t* name) override;

    bool IsSelected() const;
    void Selected(bool selected, bool notify = true);
    CDuiString GetGroup() const;
    void SetGroup(const wchar_t* group);
    void SetSelectedImage(const wchar_t* description);

    bool Activate() override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    void PaintStatusImage(HDC hDC) override;

protected:
    bool m_bSelected;
    CDuiString m_sGroup;
    CDuiString m_sSelectedImage;
};

class UILIB_API CProgressUI : public CLabelUI {
public:
    CProgressUI();
    const wchar_t* GetClass() const override;
    LPVOID GetInterface(const wchar_t* name) override;

    bool IsHorizontal() const;
    void SetHorizontal(bool horizontal = true);
    int GetMinValue() const;
    void SetMinValue(int value);
    int GetMaxValue() const;
    void SetMaxValue(int value);
    int GetValue() const;
    // Clamped to the range.
    void SetValue(int value);

    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    void PaintStatusImage(HDC hDC) override;
    void PaintForeImage(HDC hDC) override;

protected:
    bool m_bHorizontal;
    int m_nMin;
    int m_nMax;
    int m_nValue;
};

// An editable text box backed by a rich-edit child window.
class UILIB_API CRichEditUI : public CLabelUI {
public:
    CRichEditUI();
    ~CRichEditUI() override;
    const wchar_t* GetClass() const override;
    LPVOID GetInterface(const wchar_t* name) override;

    CDuiString GetText() const override;
    void SetText(const wchar_t* text) override;
    bool SetParaFormat(PARAFORMAT2& pf);
    void SetTextColor(DWORD color) override;
    DWORD GetTextColor() const override;
    bool IsMultiLine() const;
    void SetMultiLine(bool multiline);
    bool IsReadOnly() const;
    void SetReadOnly(bool readonly);
    int GetLimitText() const;
    void SetLimitText(int chars);
    // The child window (null until the control is attached to a window).
    HWND GetHostWindow() const;

    void DoInit() override;
    void SetEnabled(bool enable = true) override;
    void SetAttribute(const wchar_t* name, const wchar_t* value) override;
    void PaintText(HDC hDC) override;
    void OnLayoutDone(bool effectivelyVisible) override;

protected:
    void ApplyCharColor();
    void ApplyFormatRect();

    HWND m_hEdit;
    HFONT m_hFont;  // the font the child window was last given
    bool m_bMultiLine;
    bool m_bAutoHScroll;
    bool m_bAutoVScroll;
    bool m_bReadOnly;
    int m_nLimit;
    bool m_bHasParaFormat;
    PARAFORMAT2 m_paraFormat;
};

#include "skin_window.h"

void SkinTestWindow::Notify(TNotifyUI& msg) {
    if (onNotify) onNotify(msg.sType.GetData(), msg.pSender ? msg.pSender->GetName().GetData() : L"");
    WindowImplBase::Notify(msg);
}

void SkinTestWindow::InitWindow() {
    initWindowFoundControls = Find(L"prg_inst") && Find(L"edit_dir") && Find(L"inst_begin") && Find(L"inst_end");
}

void SkinTestWindow::ShowCustomView(bool custom) {
    for (const wchar_t* n : {L"chk_agree", L"btn_agree", L"chk_join", L"btn_join", L"btn_custom", L"btn_inst"})
        Find(n)->SetVisible(!custom);
    for (const wchar_t* n : {L"labelInst", L"edit_dir", L"btn_select", L"chk_sc", L"btn_insts", L"btn_ret"})
        Find(n)->SetVisible(custom);
}

void SkinTestWindow::ShowProgress(int percent) {
    Find(L"inst_begin")->SetVisible(false);
    CControlUI* end = Find(L"inst_end");
    end->SetVisible(true);
    CDuiString text;
    text.Format(L"%d%%", percent);
    Find(L"label_persent")->SetText(text);
    static_cast<CProgressUI*>(Find(L"prg_inst"))->SetValue(percent);
    if (percent >= 50) end->SetBkImage(L"ing2.png");
    if (percent == 100) {
        end->SetBkImage(L"end.png");
        for (const wchar_t* n : {L"label_insting", L"label_persent", L"prg_inst"}) Find(n)->SetVisible(false);
        for (const wchar_t* n : {L"btn_expe", L"btn_use", L"btn_mine", L"btn_closee"}) Find(n)->SetVisible(true);
    }
}

#include "uilib/builder.h"

#include <cwchar>
#include <memory>

#include "uilib/attributes.h"

namespace uilib {
namespace {

CControlUI* CreateKnown(const std::wstring& kind) {
    if (kind == L"Control") return new CControlUI;
    if (kind == L"Container") return new CContainerUI;
    if (kind == L"VerticalLayout") return new CVerticalLayoutUI;
    if (kind == L"HorizontalLayout") return new CHorizontalLayoutUI;
    if (kind == L"Label") return new CLabelUI;
    if (kind == L"Text") return new CTextUI;
    if (kind == L"Button") return new CButtonUI;
    if (kind == L"Option") return new COptionUI;
    if (kind == L"Progress") return new CProgressUI;
    if (kind == L"RichEdit") return new CRichEditUI;
    return nullptr;
}

// Builds one element and its children; unknown elements are skipped with
// their children.
CControlUI* BuildControl(const XmlNode& node, IDialogBuilderCallback* callback) {
    CControlUI* control = CreateKnown(node.name);
    if (!control && callback) control = callback->CreateControl(node.name.c_str());
    if (!control) return nullptr;
    for (const auto& a : node.attributes) control->SetAttribute(a.first.c_str(), a.second.c_str());
    auto* container = static_cast<CContainerUI*>(control->GetInterface(L"Container"));
    if (container) {
        for (const auto& child : node.children) {
            CControlUI* c = BuildControl(*child, callback);
            if (c) container->Add(c);
        }
    }
    return control;
}

void ApplyWindowAttributes(const XmlNode& window, CPaintManagerUI* manager) {
    const wchar_t* shadowImage = nullptr;
    RECT shadowCorner = {0, 0, 0, 0};
    bool showShadow = false;
    for (const auto& a : window.attributes) {
        const std::wstring& n = a.first;
        const wchar_t* v = a.second.c_str();
        RECT rc;
        if (n == L"size") {
            if (ParseRect((a.second + L",0,0").c_str(), rc)) manager->SetInitSize(rc.left, rc.top);
        } else if (n == L"caption") {
            if (ParseRect(v, rc)) manager->SetCaptionRect(rc);
        } else if (n == L"roundcorner") {
            if (ParseRect((a.second + L",0,0").c_str(), rc)) manager->SetRoundCorner(rc.left, rc.top);
        } else if (n == L"mininfo") {
            if (ParseRect((a.second + L",0,0").c_str(), rc)) manager->SetMinInfo(rc.left, rc.top);
        } else if (n == L"bktrans") {
            manager->SetTransparent(ParseBool(v));
        } else if (n == L"focuscolor") {
            manager->SetFocusColor(ParseColor(v));
        } else if (n == L"showshadow") {
            showShadow = ParseBool(v);
        } else if (n == L"shadowimage") {
            shadowImage = v;
        } else if (n == L"shadowcorner") {
            ParseRect(v, shadowCorner);
        }
    }
    manager->SetShadow(showShadow, shadowImage, shadowCorner);
}

void AddFont(const XmlNode& font, CPaintManagerUI* manager) {
    const wchar_t* face = font.Attribute(L"name");
    const wchar_t* size = font.Attribute(L"size");
    bool bold = ParseBool(font.Attribute(L"bold"));
    bool underline = ParseBool(font.Attribute(L"underline"));
    bool italic = ParseBool(font.Attribute(L"italic"));
    int px = size ? _wtoi(size) : 12;
    manager->AddFont(face ? face : L"", px, bold, underline, italic);
    if (ParseBool(font.Attribute(L"default"))) manager->SetDefaultFont(face ? face : L"", px, bold, underline, italic);
}

}  // namespace

CControlUI* BuildLayout(const char* data, size_t size, CPaintManagerUI* manager, IDialogBuilderCallback* callback,
                        std::string& error) {
    XmlDocument doc;
    if (!doc.Parse(data, size)) {
        error = doc.Error();
        return nullptr;
    }
    const XmlNode* root = doc.Root();
    if (root->name != L"Window") {
        error = "the layout's root element is not Window";
        return nullptr;
    }
    if (manager) ApplyWindowAttributes(*root, manager);
    CControlUI* top = nullptr;
    for (const auto& child : root->children) {
        if (child->name == L"Font") {
            if (manager) AddFont(*child, manager);
            continue;
        }
        if (top) continue;  // one root control
        top = BuildControl(*child, callback);
    }
    if (!top) error = "the layout holds no control";
    return top;
}

}  // namespace uilib

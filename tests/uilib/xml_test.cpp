// The layout reader on the installer's inst.xml and on broken input.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "uilib/xml_reader.h"

namespace {

std::string InstXml() {
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    return qvtest::ReadBytes(path.substr(0, path.find_last_of(L'\\')) + L"\\zipdata\\inst.xml");
}

void CollectNames(const uilib::XmlNode& node, std::vector<std::wstring>& out) {
    if (const wchar_t* n = node.Attribute(L"name")) out.push_back(node.name + L":" + n);
    for (const auto& c : node.children) CollectNames(*c, out);
}

TEST(XmlReader, ReadsTheInstallerLayout) {
    std::string text = InstXml();
    ASSERT_EQ(text.compare(0, 3, "\xEF\xBB\xBF"), 0);
    ASSERT_NE(text.find("\r\n"), std::string::npos);
    uilib::XmlDocument doc;
    ASSERT_TRUE(doc.Parse(text.data(), text.size())) << doc.Error();
    const uilib::XmlNode& w = *doc.Root();
    EXPECT_EQ(w.name, L"Window");
    EXPECT_STREQ(w.Attribute(L"size"), L"608,456");
    EXPECT_STREQ(w.Attribute(L"caption"), L"0,0,0,80");
    EXPECT_STREQ(w.Attribute(L"bktrans"), L"false");
    EXPECT_STREQ(w.Attribute(L"showshadow"), L"true");
    EXPECT_STREQ(w.Attribute(L"shadowimage"), L"shadow.png");
    EXPECT_STREQ(w.Attribute(L"shadowcorner"), L"23,13,23,33");

    const wchar_t* faces[] = {L"微软雅黑", L"微软雅黑", L"微软雅黑", L"微软雅黑", L"宋体", L"微软雅黑"};
    const wchar_t* sizes[] = {L"12", L"12", L"24", L"16", L"32", L"14"};
    ASSERT_GE(w.children.size(), 7u);
    for (size_t i = 0; i < 6; ++i) {
        const uilib::XmlNode& f = *w.children[i];
        EXPECT_EQ(f.name, L"Font");
        EXPECT_STREQ(f.Attribute(L"name"), faces[i]);
        EXPECT_STREQ(f.Attribute(L"size"), sizes[i]);
        EXPECT_STREQ(f.Attribute(L"bold"), i == 1 ? L"true" : L"false");
        EXPECT_EQ(f.Attribute(L"default") != nullptr, i == 3);
    }

    std::vector<std::wstring> names;
    CollectNames(*w.children[6], names);
    const std::vector<std::wstring> expected = {L"VerticalLayout:inst_begin",
                                                L"Button:btn_min",
                                                L"Button:btn_close",
                                                L"Button:chk_agree",
                                                L"Button:btn_agree",
                                                L"Button:chk_join",
                                                L"Button:btn_join",
                                                L"Button:btn_custom",
                                                L"Button:btn_inst",
                                                L"Label:labelInst",
                                                L"RichEdit:edit_dir",
                                                L"Button:btn_select",
                                                L"Button:chk_sc",
                                                L"Button:btn_insts",
                                                L"Button:btn_ret",
                                                L"VerticalLayout:inst_end",
                                                L"Button:btn_mine",
                                                L"Button:btn_closee",
                                                L"Label:label_insting",
                                                L"Label:label_persent",
                                                L"Progress:prg_inst",
                                                L"Button:btn_expe",
                                                L"Button:btn_use"};
    EXPECT_EQ(names, expected);
}

TEST(XmlReader, DecodesReferencesAndLineEnds) {
    const char text[] =
        "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n<!-- c -->\r\n<a x=\"&lt;&amp;&gt;&quot;&apos;\" "
        "y='&#20013;&#x6587;' z=\"one\r\ntwo\">\r\n  <b/><![CDATA[<not an element>]]>text &amp; more<c "
        "k=\"\"></c>\r\n</a>\r\n";
    uilib::XmlDocument doc;
    ASSERT_TRUE(doc.Parse(text, sizeof text - 1)) << doc.Error();
    const uilib::XmlNode& a = *doc.Root();
    EXPECT_STREQ(a.Attribute(L"x"), L"<&>\"'");
    EXPECT_STREQ(a.Attribute(L"y"), L"中文");
    EXPECT_STREQ(a.Attribute(L"z"), L"one two");
    ASSERT_EQ(a.children.size(), 2u);
    EXPECT_EQ(a.children[0]->name, L"b");
    EXPECT_STREQ(a.children[1]->Attribute(L"k"), L"");
    EXPECT_EQ(a.Attribute(L"missing"), nullptr);
}

TEST(XmlReader, BrokenInputFailsWithALine) {
    const char* broken[] = {
        "",
        "   ",
        "<a>",
        "<a></b>",
        "<a x=\"1></a>",
        "<a x=1></a>",
        "<a x=\"1\"x=\"2\"/>",
        "<a x=\"1\" x=\"2\"/>",
        "<a/><b/>",
        "<a>&unknown;</a>",
        "<a x=\"&#0;\"/>",
        "<a x=\"&#xD800;\"/>",
        "<a x=\"a<b\"/>",
        "<a><!-- never closed </a>",
        "<a x=\"\xC3\x28\"/>",
        "<\xC3\x28/>",
        "text before <a/>",
    };
    for (const char* text : broken) {
        uilib::XmlDocument doc;
        EXPECT_FALSE(doc.Parse(text, strlen(text))) << "accepted: " << text;
        EXPECT_EQ(doc.Error().compare(0, 5, "line "), 0) << doc.Error();
        EXPECT_EQ(doc.Root(), nullptr);
    }
    // The line of the fault is reported.
    const char multi[] = "<a>\r\n<b>\r\n</c>\r\n</a>";
    uilib::XmlDocument doc;
    EXPECT_FALSE(doc.Parse(multi, sizeof multi - 1));
    EXPECT_EQ(doc.Error().compare(0, 7, "line 3:"), 0) << doc.Error();
    // Deep nesting is refused rather than exhausting the stack.
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<a>";
    for (int i = 0; i < 5000; ++i) deep += "</a>";
    EXPECT_FALSE(doc.Parse(deep.data(), deep.size()));
    // Every cut of a valid layout fails cleanly or parses.
    std::string text = InstXml();
    for (size_t cut = 0; cut < text.size(); cut += 53) {
        uilib::XmlDocument d;
        EXPECT_FALSE(d.Parse(text.data(), cut));
    }
}

}  // namespace

#include "uilib/xml_reader.h"

#include <windows.h>

#include <cstring>

namespace uilib {

const wchar_t* XmlNode::Attribute(const wchar_t* attrName) const {
    for (const auto& a : attributes)
        if (a.first == attrName) return a.second.c_str();
    return nullptr;
}

namespace {

class Parser {
public:
    Parser(const char* p, size_t n) : p_(p), end_(p + n) {}

    bool Run(std::unique_ptr<XmlNode>& root, std::string& error) {
        if (end_ - p_ >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0) p_ += 3;
        if (!SkipMisc()) return Report(error);
        if (p_ >= end_ || *p_ != '<') {
            Set("no root element");
            return Report(error);
        }
        root.reset(new XmlNode);
        if (!Element(*root, 0) || !SkipMisc()) return Report(error);
        if (p_ != end_) {
            Set("content after the root element");
            return Report(error);
        }
        return true;
    }

private:
    static const int kMaxDepth = 64;

    bool Report(std::string& error) {
        error = "line " + std::to_string(line_) + ": " + error_;
        return false;
    }
    bool Set(const char* why) {
        if (error_.empty()) error_ = why;
        return false;
    }
    void Advance(size_t n) {
        for (size_t i = 0; i < n && p_ < end_; ++i, ++p_)
            if (*p_ == '\n') ++line_;
    }
    bool StartsWith(const char* s) const {
        size_t n = std::strlen(s);
        return size_t(end_ - p_) >= n && std::memcmp(p_, s, n) == 0;
    }
    static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
    static bool IsNameChar(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
               c == '.' || c == ':' || (static_cast<unsigned char>(c) >= 0x80);
    }
    void SkipSpace() {
        while (p_ < end_ && IsSpace(*p_)) Advance(1);
    }
    // Skips until after `terminator`; false if it never comes.
    bool SkipPast(const char* terminator, const char* what) {
        size_t n = std::strlen(terminator);
        while (p_ < end_) {
            if (StartsWith(terminator)) {
                Advance(n);
                return true;
            }
            Advance(1);
        }
        return Set(what);
    }
    // Comments, processing instructions, the document type, and spaces.
    bool SkipMisc() {
        for (;;) {
            SkipSpace();
            if (StartsWith("<!--")) {
                if (!SkipPast("-->", "unterminated comment")) return false;
            } else if (StartsWith("<?")) {
                if (!SkipPast("?>", "unterminated declaration")) return false;
            } else if (StartsWith("<!DOCTYPE")) {
                if (!SkipPast(">", "unterminated document type")) return false;
            } else {
                return true;
            }
        }
    }
    bool Name(std::string& out) {
        const char* s = p_;
        while (p_ < end_ && IsNameChar(*p_)) ++p_;
        if (p_ == s) return Set("name expected");
        out.assign(s, p_);
        return true;
    }
    bool Widen(const std::string& in, std::wstring& out) {
        out.clear();
        if (in.empty()) return true;
        int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, in.data(), int(in.size()), nullptr, 0);
        if (n <= 0) return Set("text is not valid UTF-8");
        out.resize(size_t(n));
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, in.data(), int(in.size()), &out[0], n);
        return true;
    }
    static void AppendUtf8(std::string& s, unsigned long cp) {
        if (cp < 0x80) {
            s += char(cp);
        } else if (cp < 0x800) {
            s += char(0xC0 | (cp >> 6));
            s += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            s += char(0xE0 | (cp >> 12));
            s += char(0x80 | ((cp >> 6) & 0x3F));
            s += char(0x80 | (cp & 0x3F));
        } else {
            s += char(0xF0 | (cp >> 18));
            s += char(0x80 | ((cp >> 12) & 0x3F));
            s += char(0x80 | ((cp >> 6) & 0x3F));
            s += char(0x80 | (cp & 0x3F));
        }
    }
    // At '&': appends the referenced character.
    bool Reference(std::string& out) {
        Advance(1);
        const char* semi = p_;
        while (semi < end_ && *semi != ';' && semi - p_ < 12) ++semi;
        if (semi >= end_ || *semi != ';') return Set("unterminated entity reference");
        std::string ref(p_, semi);
        if (ref == "amp")
            out += '&';
        else if (ref == "lt")
            out += '<';
        else if (ref == "gt")
            out += '>';
        else if (ref == "quot")
            out += '"';
        else if (ref == "apos")
            out += '\'';
        else if (ref.size() > 1 && ref[0] == '#') {
            bool hex = ref[1] == 'x' || ref[1] == 'X';
            const char* digits = ref.c_str() + (hex ? 2 : 1);
            if (!*digits) return Set("bad character reference");
            unsigned long cp = 0;
            for (const char* d = digits; *d; ++d) {
                int v;
                if (*d >= '0' && *d <= '9')
                    v = *d - '0';
                else if (hex && *d >= 'a' && *d <= 'f')
                    v = *d - 'a' + 10;
                else if (hex && *d >= 'A' && *d <= 'F')
                    v = *d - 'A' + 10;
                else
                    return Set("bad character reference");
                cp = cp * (hex ? 16 : 10) + unsigned(v);
                if (cp > 0x10FFFF) return Set("bad character reference");
            }
            if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF)) return Set("bad character reference");
            AppendUtf8(out, cp);
        } else {
            return Set("unknown entity");
        }
        Advance(size_t(semi - p_) + 1);
        return true;
    }
    bool AttributeValue(std::wstring& out) {
        if (p_ >= end_ || (*p_ != '"' && *p_ != '\'')) return Set("quoted attribute value expected");
        char quote = *p_;
        Advance(1);
        std::string raw;
        while (p_ < end_ && *p_ != quote) {
            if (*p_ == '<') return Set("'<' in an attribute value");
            if (*p_ == '&') {
                if (!Reference(raw)) return false;
                continue;
            }
            // Line ends and tabs inside values become spaces, as XML normalises them.
            if (*p_ == '\r') {
                raw += ' ';
                Advance(1);
                if (p_ < end_ && *p_ == '\n') Advance(1);
                continue;
            }
            raw += (*p_ == '\n' || *p_ == '\t') ? ' ' : *p_;
            Advance(1);
        }
        if (p_ >= end_) return Set("unterminated attribute value");
        Advance(1);
        return Widen(raw, out);
    }
    // Character data between tags: checked for well-formed references, not kept.
    bool Content() {
        while (p_ < end_ && *p_ != '<') {
            if (*p_ == '&') {
                std::string ignored;
                if (!Reference(ignored)) return false;
            } else {
                Advance(1);
            }
        }
        return true;
    }
    bool Element(XmlNode& node, int depth) {
        if (depth > kMaxDepth) return Set("elements nested too deeply");
        Advance(1);  // '<'
        std::string name;
        if (!Name(name) || !Widen(name, node.name)) return false;
        for (;;) {
            bool spaced = p_ < end_ && IsSpace(*p_);
            SkipSpace();
            if (p_ >= end_) return Set("unterminated start tag");
            if (StartsWith("/>")) {
                Advance(2);
                return true;
            }
            if (*p_ == '>') {
                Advance(1);
                break;
            }
            if (!spaced) return Set("space expected between attributes");
            std::string an;
            if (!Name(an)) return false;
            SkipSpace();
            if (p_ >= end_ || *p_ != '=') return Set("'=' expected after an attribute name");
            Advance(1);
            SkipSpace();
            std::wstring wn, wv;
            if (!Widen(an, wn) || !AttributeValue(wv)) return false;
            for (const auto& a : node.attributes)
                if (a.first == wn) return Set("attribute given twice");
            node.attributes.emplace_back(std::move(wn), std::move(wv));
        }
        for (;;) {
            if (!Content()) return false;
            if (p_ >= end_) return Set("element not closed");
            if (StartsWith("<!--")) {
                if (!SkipPast("-->", "unterminated comment")) return false;
            } else if (StartsWith("<![CDATA[")) {
                if (!SkipPast("]]>", "unterminated CDATA section")) return false;
            } else if (StartsWith("<?")) {
                if (!SkipPast("?>", "unterminated processing instruction")) return false;
            } else if (StartsWith("</")) {
                Advance(2);
                std::string closing;
                if (!Name(closing)) return false;
                if (closing != name) return Set("end tag does not match the start tag");
                SkipSpace();
                if (p_ >= end_ || *p_ != '>') return Set("'>' expected");
                Advance(1);
                return true;
            } else {
                std::unique_ptr<XmlNode> child(new XmlNode);
                if (!Element(*child, depth + 1)) return false;
                node.children.push_back(std::move(child));
            }
        }
    }

    const char* p_;
    const char* end_;
    int line_ = 1;
    std::string error_;
};

}  // namespace

bool XmlDocument::Parse(const char* data, size_t size) {
    root_.reset();
    error_.clear();
    if (!data) {
        error_ = "no data";
        return false;
    }
    Parser parser(data, size);
    std::unique_ptr<XmlNode> root;
    if (!parser.Run(root, error_)) return false;
    root_ = std::move(root);
    return true;
}

}  // namespace uilib

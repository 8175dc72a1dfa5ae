#pragma once
// A small XML reader for layout files: elements, attributes, character and
// entity references, comments, the declaration and CDATA; UTF-8 input with or
// without a byte-order mark. Text content between elements is not kept.
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace uilib {

struct XmlNode {
    std::wstring name;
    std::vector<std::pair<std::wstring, std::wstring>> attributes;
    std::vector<std::unique_ptr<XmlNode>> children;

    // The attribute's value, or null.
    const wchar_t* Attribute(const wchar_t* attrName) const;
};

class XmlDocument {
public:
    // Parses the whole text; false with a message naming the line otherwise.
    bool Parse(const char* data, size_t size);
    const XmlNode* Root() const { return root_.get(); }
    const std::string& Error() const { return error_; }

private:
    std::unique_ptr<XmlNode> root_;
    std::string error_;
};

}  // namespace uilib

#pragma once
// Turns a layout document into a control tree: the root element "Window"
// carries the window attributes, "Font" elements declare fonts in order, and
// the first control element becomes the root control.
#include <string>

#include "uilib/uimanager.h"
#include "uilib/xml_reader.h"

namespace uilib {

// Null (with a reason) if the document is not a usable layout.
CControlUI* BuildLayout(const char* data, size_t size, CPaintManagerUI* manager, IDialogBuilderCallback* callback,
                        std::string& error);

}  // namespace uilib

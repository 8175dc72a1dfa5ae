#pragma once
// The rule by which Tab and Shift+Tab move the keyboard focus.

namespace uilib {

// The next control to take the focus among `count` controls in layout
// order, of which usable[i] says whether control i can take it now (visible,
// enabled, a tab stop). From `current` (-1: no control has the focus) it
// goes forward or backward and wraps around at either end; the current
// control itself is reached again only when it is the one usable control.
// -1 when no control is usable.
int NextFocus(const bool* usable, int count, int current, bool forward);

}  // namespace uilib

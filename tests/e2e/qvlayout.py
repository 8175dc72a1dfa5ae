"""Where the installer window's controls are, read from the skin's layout
(res/skin/inst.xml) the way the window lays it out, so that no test keeps a
copy of the positions.

Layout rules used:
- The window's root layout holds the pages; one page shows at a time, so
  each page is laid out as the root's only visible child.
- A control with float="true" sits at pos="left,top,right,bottom" inside its
  parent.
- Other children flow: in a VerticalLayout from the top down, in a
  HorizontalLayout from the left; each takes its padding="left,top,right,
  bottom" around it and its width/height (else the parent's free room,
  shared by the children without a size). A child hidden at start
  (visible="false") takes no room before the ones after it.
Rectangles are (x, y, width, height) in window pixels at 100 % scale."""
import os
import xml.etree.ElementTree as ET

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SKIN_LAYOUT = os.path.join(ROOT, "res", "skin", "inst.xml")
LAYOUTS = ("VerticalLayout", "HorizontalLayout")


class Rect(tuple):
    """(x, y, width, height) with names."""

    def __new__(cls, x, y, w, h):
        return super().__new__(cls, (x, y, w, h))

    x = property(lambda self: self[0])
    y = property(lambda self: self[1])
    w = property(lambda self: self[2])
    h = property(lambda self: self[3])
    right = property(lambda self: self[0] + self[2])
    bottom = property(lambda self: self[1] + self[3])

    def centre(self):
        return self.x + self.w // 2, self.y + self.h // 2

    def clip(self, left=None, right=None):
        """The part of the rectangle between the columns `left` and `right`."""
        x0 = self.x if left is None else max(self.x, left)
        x1 = self.right if right is None else min(self.right, right)
        return Rect(x0, self.y, max(0, x1 - x0), self.h)


class Control:
    """One named element of the layout: its tag, attributes, page and place."""

    def __init__(self, element, rect, page):
        self.name = element.get("name")
        self.kind = element.tag
        self.attrs = dict(element.attrib)
        self.rect = rect
        self.page = page

    def __repr__(self):
        return "Control(%s %s %r on %s)" % (self.kind, self.name, tuple(self.rect), self.page)


def _numbers(text, count):
    values = [int(v) for v in (text or "").split(",") if v.strip()]
    return (values + [0] * count)[:count]


def _shown(element):
    return element.get("visible", "true").lower() != "false"


def _place(element, rect, page, found):
    """Records `element` at `rect` and lays out its children inside it."""
    if element.get("name"):
        found[element.get("name")] = Control(element, rect, page)
    if element.tag not in LAYOUTS:
        return
    flow = [child for child in element if child.get("float", "false").lower() != "true"]
    vertical = element.tag == "VerticalLayout"
    length = rect.h if vertical else rect.w
    # The room the sized children and every padding leave to the others.
    sized, unsized = 0, 0
    for child in flow:
        if not _shown(child):
            continue
        pad = _numbers(child.get("padding"), 4)
        size = int(child.get("height" if vertical else "width", 0))
        sized += size + (pad[1] + pad[3] if vertical else pad[0] + pad[2])
        unsized += 0 if size else 1
    share = max(0, length - sized) // unsized if unsized else 0
    cursor = rect.y if vertical else rect.x
    for child in element:
        if child not in flow:
            left, top, right, bottom = _numbers(child.get("pos"), 4)
            _place(child, Rect(rect.x + left, rect.y + top, right - left, bottom - top), page, found)
            continue
        pad = _numbers(child.get("padding"), 4)
        width, height = int(child.get("width", 0)), int(child.get("height", 0))
        if vertical:
            w = width or rect.w - pad[0] - pad[2]
            h = height or share
            place = Rect(rect.x + pad[0], cursor + pad[1], w, h)
            advance = pad[1] + h + pad[3]
        else:
            w = width or share
            h = height or rect.h - pad[1] - pad[3]
            place = Rect(cursor + pad[0], rect.y + pad[1], w, h)
            advance = pad[0] + w + pad[2]
        _place(child, place, page, found)
        if _shown(child):
            cursor += advance


def load(path=SKIN_LAYOUT):
    """The named controls of a layout file: {name: Control}."""
    window = ET.parse(path).getroot()
    width, height = _numbers(window.get("size"), 2)
    root = next(child for child in window if child.tag in LAYOUTS)
    found = {}
    for page in [child for child in root if child.tag in LAYOUTS]:
        # The page as the only visible child of the root.
        alone = ET.Element(root.tag, root.attrib)
        shown = ET.SubElement(alone, page.tag, dict(page.attrib, visible="true"))
        shown.extend(list(page))
        _place(alone, Rect(0, 0, width, height), page.get("name"), found)
    return found


_CONTROLS = None


def window_size(path=SKIN_LAYOUT):
    """The window's (width, height) at 100 % scale."""
    return tuple(_numbers(ET.parse(path).getroot().get("size"), 2))


def controls():
    """The installer skin's controls (read once)."""
    global _CONTROLS
    if _CONTROLS is None:
        _CONTROLS = load()
    return _CONTROLS


def rect(name):
    """The rectangle of a control of the installer skin."""
    return controls()[name].rect

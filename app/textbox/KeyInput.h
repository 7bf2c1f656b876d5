// What keys do in a box: the platform's standard key bindings mapped to editing operations, and
// the one rule for which typed characters go in, Qt's (QInputControl::isAcceptableInput).
#pragma once

#include "EditController.h"

#include <cstdint>
#include <optional>

class QKeyEvent;

namespace morvalen::textbox {

// The operation a key press asks for, or nothing when it is no standard key of this kind of box.
// An arrow in a one-line box moves from the caret under key bindings that put redo on Ctrl+Y
// (Windows' only), as QLineEdit there.
std::optional<KeyAction> standardKeyAction(const QKeyEvent& event, bool multiLine);
// Whether the key's text is typed into the box. Format characters (joiners, direction marks),
// private-use and astral characters count; Ctrl and Ctrl+Shift do not, AltGr (Ctrl+Alt) does. A
// tab is text in a multi-line box (the Tab key itself moves the focus before it gets here).
bool isAcceptableInput(const QKeyEvent& event, bool multiLine);
// Keys the box takes before shortcuts elsewhere in the window while it has the focus.
bool isEditingShortcut(const QKeyEvent& event, bool multiLine);

} // namespace morvalen::textbox

#pragma once
// A text box whose typed length is smaller than what it may show ("100.00" in
// a box that takes five typed characters, "180s" in one that takes four).
// The limit holds on every road text comes in: keys, the paste key, the
// context menu's paste, the middle button's selection, an input method's
// commit and a drop. Text the program sets is not limited.
#include <QString>

class QLineEdit;

namespace platform {

// Limits what the operator may add to `box` to `typed` characters in all.
void LimitTyped(QLineEdit* box, int typed);
// The limit set on `box`, or -1 when there is none.
int TypedLimitOf(const QLineEdit* box);

}  // namespace platform

#pragma once

#include "ui/rules/field_limits.h"

class QLineEdit;

namespace tavren::ui {

// The typing limit of `edit`, which shows `field`: an edit that would take
// the text over the field's CP932 byte limit is refused as a whole; one
// that brings in a character without a CP932 form is refused with its
// message. Text set by the program is never cut, so a chooser's long path
// stays visible in full and is refused only when the dialog reads it.
void SetCp932Limit(QLineEdit* edit, rules::Field field);

}  // namespace tavren::ui

#pragma once

#include <QAbstractButton>
#include <QLineEdit>
#include <QSignalBlocker>

#include "ui/qt/qt_text.h"
#include "ui/rules/field_limits.h"

namespace tavren::ui {

// Moving state between the dialog rules and the controls. Showing never
// signals back: the rules already know what they show.

inline void ShowField(QLineEdit* edit, const rules::TextField& field) {
    const QString text = Q(field.text);
    if (edit->text() != text) {
        const QSignalBlocker quiet(edit);
        edit->setText(text);
    }
    edit->setEnabled(field.enabled);
}

inline void ShowCheck(QAbstractButton* check, int value) {
    const QSignalBlocker quiet(check);
    check->setChecked(value != 0);
}

}  // namespace tavren::ui

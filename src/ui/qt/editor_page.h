#pragma once

#include <QWidget>
#include <functional>

#include "ui/rules/entry_editor.h"

class QLineEdit;

namespace tavren::ui {

// A tab page of the entry editor: a view of the page the editor's rules
// hold for the current tab. Commands that may ask or refuse something
// hand their outcome to the editor, which shows everything again and puts
// the focus where the outcome says.
class EditorPage : public QWidget {
public:
    using Settle = std::function<void(const rules::Outcome&)>;

    EditorPage(QWidget* editor, rules::EntryEditor& rules, Settle settle)
        : QWidget(editor), rules_(rules), settle_(std::move(settle)) {}

    // Shows the rules' page: texts, checks, radios and enabling.
    virtual void Show() = 0;
    // The page's text control for `field`, if it has it.
    virtual QLineEdit* EditFor(rules::Field field) const = 0;

protected:
    rules::EntryEditor& rules_;
    Settle settle_;
};

}  // namespace tavren::ui

#include "ui/qt/cp932_limits.h"

#include <QLineEdit>
#include <QValidator>

#include "ui/qt/prompts.h"
#include "ui/qt/qt_text.h"

namespace tavren::ui {
namespace {

// QLineEdit undoes a refused user edit by itself, but a text the program
// sets is kept even when refused.
class Cp932Validator final : public QValidator {
public:
    Cp932Validator(QLineEdit* edit, rules::FieldLimit limit) : QValidator(edit), limit_(limit) {
        connect(edit, &QLineEdit::inputRejected, this, [this, edit] { OnRejected(edit); });
    }

    State validate(QString& input, int&) const override {
        const auto bytes = rules::Cp932Bytes(U8(input), limit_.namesAFile);
        lastHadNoForm_ = !bytes;
        return bytes && *bytes <= limit_.maxBytes ? Acceptable : Invalid;
    }

private:
    // inputRejected comes in the middle of the edit, before it is undone,
    // and also for texts the program sets (those leave the edit
    // unmodified). The message waits until the edit has settled.
    void OnRejected(QLineEdit* edit) {
        if (!lastHadNoForm_ || !edit->isModified()) return;
        QMetaObject::invokeMethod(
            this, [edit] { ShowNotice(edit->window(), Q(rules::NoCp932FormText())); },
            Qt::QueuedConnection);
    }

    rules::FieldLimit limit_;
    mutable bool lastHadNoForm_ = false;
};

}  // namespace

void SetCp932Limit(QLineEdit* edit, rules::Field field) {
    edit->setValidator(new Cp932Validator(edit, rules::LimitOf(field)));
}

}  // namespace tavren::ui

#include "ui/cp932_limits.h"

#include <QLineEdit>
#include <QValidator>

#include "store/cp932.h"
#include "ui/prompts.h"

namespace tavren::ui {
namespace {

std::optional<std::string> ToCp932(const QString& text, bool namesAFile) {
    const QByteArray utf8 = text.toUtf8();
    return store::ToCp932(std::string_view(utf8.constData(), utf8.size()), !namesAFile);
}

// Refuses an edit whose result is over the limit or has no CP932 form.
// QLineEdit undoes a refused user edit by itself, but a text the program
// sets is kept even when refused, so a long chooser path is shown whole.
class Cp932Validator final : public QValidator {
public:
    Cp932Validator(QLineEdit* edit, std::size_t maxBytes, bool namesAFile)
        : QValidator(edit), maxBytes_(maxBytes), namesAFile_(namesAFile) {
        connect(edit, &QLineEdit::inputRejected, this, [this, edit] { OnRejected(edit); });
    }

    State validate(QString& input, int&) const override {
        const auto bytes = Cp932Bytes(input, namesAFile_);
        lastHadNoForm_ = !bytes;
        return bytes && *bytes <= maxBytes_ ? Acceptable : Invalid;
    }

private:
    // inputRejected comes in the middle of the edit, before it is undone,
    // and also for texts the program sets (those leave the edit
    // unmodified). The message waits until the edit has settled.
    void OnRejected(QLineEdit* edit) {
        if (!lastHadNoForm_ || !edit->isModified()) return;
        QMetaObject::invokeMethod(
            this, [edit] { ShowNotice(edit->window(), NoCp932FormText()); }, Qt::QueuedConnection);
    }

    std::size_t maxBytes_;
    bool namesAFile_;
    mutable bool lastHadNoForm_ = false;
};

}  // namespace

std::optional<std::size_t> Cp932Bytes(const QString& text, bool namesAFile) {
    const auto cp932 = ToCp932(text, namesAFile);
    if (!cp932) return std::nullopt;
    return cp932->size();
}

TextCheck CheckText(const QString& text, std::size_t maxBytes, bool namesAFile) {
    const auto bytes = Cp932Bytes(text, namesAFile);
    if (!bytes) return TextCheck::NoCp932Form;
    return *bytes <= maxBytes ? TextCheck::Fits : TextCheck::TooLong;
}

void SetCp932Limit(QLineEdit* edit, std::size_t maxBytes, bool namesAFile) {
    edit->setValidator(new Cp932Validator(edit, maxBytes, namesAFile));
}

TextCheck ReadLimitedText(QLineEdit* edit, std::size_t maxBytes, QString& out, bool namesAFile) {
    out = edit->text();
    // A disabled edit's text is not in use and the user cannot mend it:
    // refusing it (a settings file's field holds a byte more than the edit
    // takes) would keep the page or the editor from ever being left.
    if (!edit->isEnabledTo(edit->window())) return TextCheck::Fits;
    const TextCheck check = CheckText(out, maxBytes, namesAFile);
    if (check == TextCheck::Fits) return check;
    ShowNotice(edit->window(),
               check == TextCheck::TooLong ? TooLongText(maxBytes) : NoCp932FormText());
    edit->setFocus();
    return check;
}

QString TooLongText(std::size_t maxBytes) {
    return QStringLiteral(
               "入力できる文字数を超えています。\n"
               "半角 %1 文字（全角 %2 文字）以内で入力してください。")
        .arg(maxBytes)
        .arg(maxBytes / 2);
}

QString NoCp932FormText() {
    return QStringLiteral(
        "保存できない文字が含まれています。\n"
        "シフトJIS（CP932）で表せる文字だけを使ってください。");
}

}  // namespace tavren::ui

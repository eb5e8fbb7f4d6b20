#include "ui/rules/field_limits.h"

#include "store/cp932.h"
#include "store/settings_file.h"
#include "ui/rules/dialog_texts.h"

namespace tavren::rules {

FieldLimit LimitOf(Field field) {
    switch (field) {
        case Field::Title:
            return {store::kTitleMaxBytes, false};
        case Field::Pattern:
            return {store::kPatternMaxBytes, true};
        case Field::Folder:
        case Field::Program:
        case Field::WaveFile:
        // The field stores a byte more, but a longer destination would be
        // cut to its field and then name another folder.
        case Field::MoveTo:
            return {store::kPathMaxBytes, true};
        case Field::None:
            break;
    }
    return {};
}

std::optional<std::size_t> Cp932Bytes(std::string_view text, bool namesAFile) {
    const auto cp932 = store::ToCp932(text, /*allowLookAlikes=*/!namesAFile);
    if (!cp932) return std::nullopt;
    return cp932->size();
}

TextCheck CheckText(std::string_view text, FieldLimit limit) {
    const auto bytes = Cp932Bytes(text, limit.namesAFile);
    if (!bytes) return TextCheck::NoCp932Form;
    return *bytes <= limit.maxBytes ? TextCheck::Fits : TextCheck::TooLong;
}

std::string TooLongText(std::size_t maxBytes) {
    return "入力できる文字数を超えています。\n半角 " + std::to_string(maxBytes) + " 文字（全角 " +
           std::to_string(maxBytes / 2) + " 文字）以内で入力してください。";
}

std::string_view NoCp932FormText() {
    return text::kNoCp932Form;
}

std::string RefusalText(TextCheck check, FieldLimit limit) {
    switch (check) {
        case TextCheck::TooLong:
            return TooLongText(limit.maxBytes);
        case TextCheck::NoCp932Form:
            return std::string(NoCp932FormText());
        case TextCheck::Fits:
            break;
    }
    return {};
}

}  // namespace tavren::rules

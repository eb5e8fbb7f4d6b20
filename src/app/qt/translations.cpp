#include "app/qt/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>
#include <cstring>
#include <memory>

namespace tavren::app {
namespace {

// Texts that Qt's Japanese catalogue lacks: the kinds of entry that the
// choosers' タイプ column shows ("Folder" beside every folder), in the
// catalogue's own words.
class MissingTexts final : public QTranslator {
public:
    using QTranslator::QTranslator;

    bool isEmpty() const override { return false; }

    QString translate(const char* context, const char* source, const char*, int) const override {
        if (std::strcmp(context, "QAbstractFileIconProvider") != 0) return {};
        static constexpr std::pair<const char*, const char*> kTexts[] = {
            {"Folder", "フォルダ"},     {"Drive", "ドライブ"},          {"File", "ファイル"},
            {"%1 File", "%1 ファイル"}, {"Shortcut", "ショートカット"},
        };
        for (const auto& [english, japanese] : kTexts) {
            if (std::strcmp(source, english) == 0) return QString::fromUtf8(japanese);
        }
        return {};
    }
};

}  // namespace

bool LoadQtTranslations() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return false;
    auto translator = std::make_unique<QTranslator>();
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                          QStringLiteral("_"), folder)) {
        std::fprintf(stderr,
                     "tavren3: Qt の日本語訳 (%s/qtbase_ja.qm) がないため、"
                     "標準のボタンなどは英語で表示されます。\n",
                     qUtf8Printable(folder));
        return false;
    }
    // The last installed is asked first: the catalogue, then what it lacks.
    // Both stay with the application until it ends.
    QCoreApplication::installTranslator(new MissingTexts(app));
    QCoreApplication::installTranslator(translator.get());
    translator.release()->setParent(app);
    return true;
}

}  // namespace tavren::app

#include "app/qt/startup_failure.h"

#include <QApplication>
#include <memory>

#include "app/qt/translations.h"
#include "ui/qt/prompts.h"

namespace tavren::app {

void ShowStartupFailure(int& argc, char** argv, const std::string& text) {
    std::unique_ptr<QApplication> app;
    if (!QApplication::instance()) {
        app = std::make_unique<QApplication>(argc, argv);
        LoadQtTranslations();
    }
    ui::ShowNotice(nullptr, QString::fromStdString(text));
}

}  // namespace tavren::app

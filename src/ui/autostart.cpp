#include "ui/autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <algorithm>

namespace tavren::ui {
namespace {

constexpr auto kStartKey = "Tavren/nStart";

QSettings Profile() {
    return QSettings(QStringLiteral("QUORVALE"), QStringLiteral("Tavren3"));
}

QStringList& StartArguments() {
    static QStringList arguments;
    return arguments;
}

// One argument of Exec=, before the string escapes.
QString QuoteExecArgument(const QString& argument) {
    // Characters that make the desktop entry rules require quoting.
    static const QString kReserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString quoted;
    if (argument.isEmpty() || std::any_of(argument.begin(), argument.end(),
                                          [](QChar c) { return kReserved.contains(c); })) {
        quoted += u'"';
        for (const QChar c : argument) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') quoted += u'\\';
            quoted += c;
        }
        quoted += u'"';
    } else {
        quoted = argument;
    }
    quoted.replace(u'%', QStringLiteral("%%"));  // '%' starts a field code
    return quoted;
}

// The general escapes of a string value.
QString EscapeValue(const QString& text) {
    QString value;
    for (const QChar c : text) {
        switch (c.unicode()) {
            case u'\\':
                value += QStringLiteral("\\\\");
                break;
            case u'\n':
                value += QStringLiteral("\\n");
                break;
            case u'\t':
                value += QStringLiteral("\\t");
                break;
            case u'\r':
                value += QStringLiteral("\\r");
                break;
            default:
                value += c;
        }
    }
    return value;
}

}  // namespace

void SetStartArguments(const QStringList& arguments) {
    StartArguments() = arguments;
}

int ReadStartSetting() {
    return Profile().value(QLatin1String(kStartKey), 0).toInt();
}

void ApplyStartSetting(int enabled) {
    {
        QSettings profile = Profile();
        profile.setValue(QLatin1String(kStartKey), enabled);
        profile.sync();
    }

    const QString entry = AutostartFilePath();
    if (enabled != 1) {
        QFile::remove(entry);  // a missing entry is fine
        return;
    }
    const QString program = QCoreApplication::applicationFilePath();
    if (program.isEmpty()) return;
    if (!QDir().mkpath(QFileInfo(entry).path())) return;
    // Replaced atomically, so a failed write never leaves half an entry.
    QSaveFile file(entry);
    if (!file.open(QIODevice::WriteOnly)) return;
    const QString icon = AutostartIcon(QFileInfo(program).path());
    file.write(AutostartEntryText(QStringList{program} + StartArguments(), icon).toUtf8());
    file.commit();
}

QString AutostartFilePath() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart/Tavren.desktop");
}

QString DesktopExecValue(const QStringList& command) {
    QStringList arguments;
    for (const QString& argument : command) arguments << QuoteExecArgument(argument);
    return EscapeValue(arguments.join(u' '));
}

QString DesktopExecValue(const QString& program) {
    return DesktopExecValue(QStringList{program});
}

QString AutostartIcon(const QString& programFolder) {
    const QString kName = QStringLiteral("tavren3");
    const QString share = QDir::cleanPath(programFolder + QStringLiteral("/../share"));
    const QString installed = share + QStringLiteral("/icons/hicolor/256x256/apps/tavren3.png");
    if (QFile::exists(installed)) {
        const QString canonicalShare = QFileInfo(share).canonicalFilePath();
        for (const QString& dataDir :
             QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
            if (QFileInfo(dataDir).canonicalFilePath() == canonicalShare) return kName;
        }
        return installed;
    }
    const QString built = QDir::cleanPath(programFolder + QStringLiteral("/tavren3.png"));
    return QFile::exists(built) ? built : kName;
}

QString AutostartEntryText(const QStringList& command, const QString& icon) {
    return QStringLiteral(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Tavren\n"
               "Comment=フォルダ監視\n"
               "Exec=%1\n"
               "Icon=%2\n"
               "Terminal=false\n")
        .arg(DesktopExecValue(command), EscapeValue(icon));
}

}  // namespace tavren::ui

#include "ui/autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <algorithm>

namespace tavren::ui {
namespace {

constexpr auto kStartKey = "Tavren/nStart";

QSettings Profile() {
    return QSettings(QStringLiteral("QUORVALE"), QStringLiteral("Tavren3"));
}

}  // namespace

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
    file.write(AutostartEntryText(program).toUtf8());
    file.commit();
}

QString AutostartFilePath() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart/Tavren.desktop");
}

QString DesktopExecValue(const QString& program) {
    // Characters that make the desktop entry rules require quoting.
    static const QString kReserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString arg;
    if (std::any_of(program.begin(), program.end(),
                    [](QChar c) { return kReserved.contains(c); })) {
        arg += u'"';
        for (const QChar c : program) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') arg += u'\\';
            arg += c;
        }
        arg += u'"';
    } else {
        arg = program;
    }
    arg.replace(u'%', QStringLiteral("%%"));  // '%' starts a field code

    // The general escapes of a string value come on top of the quoting.
    QString value;
    for (const QChar c : arg) {
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

QString AutostartEntryText(const QString& program) {
    return QStringLiteral(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Tavren\n"
               "Comment=フォルダ監視\n"
               "Exec=%1\n"
               "Terminal=false\n")
        .arg(DesktopExecValue(program));
}

}  // namespace tavren::ui

#include "app/qt/single_instance.h"

#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QWidget>
#include <cstdio>

#include "platform/env.h"
#include "platform/path_text.h"
#include "platform/private_folder.h"

namespace tavren::app {
namespace {

constexpr int kConnectTimeoutMs = 1000;
const QByteArray kRaise = QByteArrayLiteral("raise\n");

bool IsPrivate(const QString& folder) {
    return !platform::CheckPrivateFolder(platform::PathFromUtf8(folder.toStdString()));
}

// Where the socket goes: a folder only this user can enter, so that nobody
// else can take its name first (in the shared temporary folder anyone can,
// and a second start would then give way to them). The session's runtime
// folder when it is the user's own, else a private folder in the user's
// cache; empty when neither will do.
QString SocketFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.startsWith(u'/') && IsPrivate(runtime)) return runtime;
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty()) return {};
    const QString folder = cache + QStringLiteral("/QUORVALE/Tavren3/instance");
    if (platform::MakePrivateFolder(platform::PathFromUtf8(folder.toStdString()))) return {};
    return folder;
}

}  // namespace

SingleInstance::SingleInstance(const QString& instanceName) {
    // A full path, which Qt takes as it is rather than putting it in the
    // temporary folder.
    const QString folder = SocketFolder();
    if (!folder.isEmpty()) {
        serverName_ =
            folder + u'/' + instanceName + u'-' + QString::fromStdString(platform::CurrentUserId());
    }
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::AskRunningInstance() {
    QLocalSocket socket;
    socket.connectToServer(serverName_);
    if (!socket.waitForConnected(kConnectTimeoutMs)) return false;
    socket.write(kRaise);
    socket.waitForBytesWritten(kConnectTimeoutMs);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::Claim() {
    if (serverName_.isEmpty()) {
        std::fputs(
            "tavren3: 自分専用のフォルダ (XDG_RUNTIME_DIR またはキャッシュ) がないため、"
            "二重起動を確かめずに起動します。\n",
            stderr);
        return true;
    }
    if (AskRunningInstance()) return false;
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(serverName_)) {
        // Either another instance started at the same moment, or a crashed
        // one left its socket behind.
        if (AskRunningInstance()) {
            server_.reset();
            return false;
        }
        QLocalServer::removeServer(serverName_);
        if (!server_->listen(serverName_)) return true;  // run anyway, unguarded
    }
    connect(server_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_->nextPendingConnection()) {
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                if (peer->readAll().contains("raise")) emit raiseRequested();
            });
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        }
    });
    return true;
}

void RestoreWindow(QWidget* window) {
    // Mapping an iconified window again is what restores it under X11.
    if (window->isMinimized()) window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
}

void RaiseActiveWindow() {
    QWidget* window = QApplication::activeModalWidget();
    if (!window) window = QApplication::activeWindow();
    if (!window) {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible()) window = w;
        }
    }
    if (!window) return;
    RestoreWindow(window);
    window->raise();
    window->activateWindow();
}

}  // namespace tavren::app

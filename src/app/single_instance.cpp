#include "app/single_instance.h"

#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

#include "platform/env.h"

namespace tavren::app {
namespace {

constexpr int kConnectTimeoutMs = 1000;
const QByteArray kRaise = QByteArrayLiteral("raise\n");

}  // namespace

SingleInstance::SingleInstance(const QString& instanceName)
    : serverName_(instanceName + QStringLiteral("-") +
                  QString::fromStdString(platform::CurrentUserId())) {}

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

void RaiseActiveWindow() {
    QWidget* window = QApplication::activeModalWidget();
    if (!window) window = QApplication::activeWindow();
    if (!window) {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible()) window = w;
        }
    }
    if (!window) return;
    if (window->isMinimized()) window->showNormal();
    window->raise();
    window->activateWindow();
}

}  // namespace tavren::app

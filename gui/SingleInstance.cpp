#include "gui/SingleInstance.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace {

constexpr int kConnectMs = 500;
constexpr const char* kActivate = "activate\n";

}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

QString SingleInstance::Scope()
{
    const QString machine = qEnvironmentVariable("HARROW_MACHINE", "builtin");
    // This computer's drives are one set, whichever screen a window is on.
    if (machine == "linux") {
        return "linux";
    }
    const QString display = qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ? qEnvironmentVariable("WAYLAND_DISPLAY")
                                                                          : qEnvironmentVariable("DISPLAY");
    const QFileInfo file(machine);
    return QGuiApplication::platformName() + "|" + display + "|" +
           (file.exists() ? file.canonicalFilePath() : machine);
}

QString SingleInstance::ServerName()
{
    const QByteArray scope = Scope().toUtf8();
    const QByteArray digest = QCryptographicHash::hash(scope, QCryptographicHash::Sha1).toHex().left(12);
    return QString("HarrowMainWindow-%1-%2").arg(getuid()).arg(QString::fromLatin1(digest));
}

bool SingleInstance::ActivateRunning()
{
    QLocalSocket socket;
    socket.connectToServer(ServerName());
    if (!socket.waitForConnected(kConnectMs)) {
        return false;
    }
    socket.write(kActivate);
    socket.waitForBytesWritten(kConnectMs);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::Listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(ServerName())) {
        // Nobody answered on it (ActivateRunning came first): a crashed run left it.
        QLocalServer::removeServer(ServerName());
        if (!m_server->listen(ServerName())) {
            return false;
        }
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            emit ActivationRequested();
        }
    });
    return true;
}

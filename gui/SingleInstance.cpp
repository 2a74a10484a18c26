#include "gui/SingleInstance.h"

#include "platform/Registry.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace {

constexpr int CONNECT_MS = 500;
constexpr const char* ACTIVATE = "activate\n";

}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

QString SingleInstance::ServerName()
{
    const QByteArray registry = QByteArray::fromStdString(harrow::platform::RegistryPath());
    const QByteArray digest = QCryptographicHash::hash(registry, QCryptographicHash::Sha1).toHex().left(12);
    return QString("HarrowMainWindow-%1-%2").arg(getuid()).arg(QString::fromLatin1(digest));
}

bool SingleInstance::ActivateRunning()
{
    QLocalSocket socket;
    socket.connectToServer(ServerName());
    if (!socket.waitForConnected(CONNECT_MS)) {
        return false;
    }
    socket.write(ACTIVATE);
    socket.waitForBytesWritten(CONNECT_MS);
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

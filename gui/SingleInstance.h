#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One running window per user configuration: the first start listens on a
// local socket, a later start asks it to come to the front and ends.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QObject* parent = nullptr);

    // One window per user and display and machine file; one per user for the
    // real machine ("linux"), whatever the display.
    static QString Scope();
    // The socket name: the window class plus the user and a digest of the scope.
    static QString ServerName();
    // True when another instance ran and was asked to come forward.
    bool ActivateRunning();
    // Starts listening for later starts; false when the socket cannot be made.
    bool Listen();

signals:
    void ActivationRequested();

private:
    QLocalServer* m_server = nullptr;
};

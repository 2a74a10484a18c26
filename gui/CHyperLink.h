#pragma once

#include <QLabel>
#include <QUrl>

#include <string>

// A link that opens its target the way the desktop opens it, falling back on
// the command registered for ".htm" pages.
class CHyperLink : public QLabel {
    Q_OBJECT
public:
    CHyperLink(const QString& text, const QString& target, QWidget* parent = nullptr);

    // Opens the target; on failure beeps and says why.
    void Open();
    // What Open asks the desktop to open: a local file by its path, else a web address.
    QUrl Url() const;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QString m_target;
};

// The message for a shell or start error code.
std::string HyperlinkErrorText(int code);
// The registered open command cut at its placeholder, with the target appended.
std::string OpenCommandLine(const std::string& registered, const std::string& target);

#include "gui/CHyperLink.h"

#include "frontend/ResourceText.h"
#include "frontend/TextFormat.h"
#include "gui/Resources.h"
#include "platform/Registry.h"
#include "platform/System.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMouseEvent>
#include <QProcess>
#include <QUrl>

namespace {

// Codes of the shell and of starting a program.
constexpr int kErrorFileNotFoundCode = 2;
constexpr int kNoAssociation = 31;

std::string ReadDefaultValue(const std::string& keyName)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyName.c_str(), 0, KEY_READ, &key) != 0) {
        return {};
    }
    char value[1024] = {};
    DWORD size = sizeof value - 1;
    DWORD type = 0;
    const LSTATUS status = RegQueryValueExA(key, "", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return status == 0 && type == REG_SZ ? std::string(value) : std::string();
}

// The error code of the fallback: 0 when the registered browser started.
int OpenWithRegisteredBrowser(const std::string& target)
{
    const std::string htmClass = ReadDefaultValue(".htm");
    const std::string command = htmClass.empty() ? "" : ReadDefaultValue(htmClass + "\\shell\\open\\command");
    if (command.empty()) {
        return kNoAssociation;
    }
    QStringList words = QProcess::splitCommand(QString::fromStdString(OpenCommandLine(command, target)));
    if (words.isEmpty()) {
        return kNoAssociation;
    }
    const QString program = words.takeFirst();
    return QProcess::startDetached(program, words) ? 0 : kErrorFileNotFoundCode;
}

}  // namespace

std::string HyperlinkErrorText(int code)
{
    switch (code) {
    case 0: return "The operating system is out\nof memory or resources.";
    case 2: return "The specified file was not found.";
    case 3: return "The specified path was not found.";
    case 5: return "The operating system denied\naccess to the specified file.";
    case 8: return "There was not enough memory to complete the operation.";
    case 11: return "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
    case 26: return "A sharing violation occurred.";
    case 27: return "The filename association is\nincomplete or invalid.";
    case 28: return "The DDE transaction could not\nbe completed because the request timed out.";
    case 29: return "The DDE transaction failed.";
    case 30:
        return "The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed.";
    case 31: return "There is no application associated\nwith the given filename extension.";
    case 32: return "The specified dynamic-link library was not found.";
    default: return Format("Unknown Error (%d) occurred.", code);
    }
}

std::string OpenCommandLine(const std::string& registered, const std::string& target)
{
    std::string command = registered;
    std::size_t cut = command.find("\"%1\"");
    if (cut == std::string::npos) {
        cut = command.find("%1");
    }
    if (cut != std::string::npos) {
        command.erase(cut);
    }
    while (!command.empty() && command.back() == ' ') {
        command.pop_back();
    }
    return command + " " + target;
}

CHyperLink::CHyperLink(const QString& text, const QString& target, QWidget* parent)
    : QLabel(QString("<a href=\"#\">%1</a>").arg(text.toHtmlEscaped()), parent), m_target(target)
{
    setCursor(Qt::PointingHandCursor);
    setTextInteractionFlags(Qt::NoTextInteraction);
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        Open();
    }
}

QUrl CHyperLink::Url() const
{
    // A file of this computer, named by path, is not a web address.
    const QFileInfo local(m_target);
    return local.exists() ? QUrl::fromLocalFile(local.absoluteFilePath()) : QUrl::fromUserInput(m_target);
}

void CHyperLink::Open()
{
    if (QDesktopServices::openUrl(Url())) {
        return;
    }
    const int code = OpenWithRegisteredBrowser(m_target.toStdString());
    if (code == 0) {
        return;
    }
    QApplication::beep();
    const std::string text = "Unable to open hyperlink:\n\n" + HyperlinkErrorText(code);
    MessageBoxA(nullptr, text.c_str(), ResourceText(RES_APP_TITLE).c_str(), MB_OK | MB_ICONWARNING);
}

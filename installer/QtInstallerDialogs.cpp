#include "installer/QtInstallerDialogs.h"

#include "installer/Dialogs.h"
#include "platform/System.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace {

// Prints the dialog's caption and texts, as a person would read them.
void Tell(const QDialog& dialog)
{
    std::printf("%s\n", dialog.windowTitle().toStdString().c_str());
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        std::printf("  %s\n", label->text().toStdString().c_str());
    }
    std::fflush(stdout);
}

// Runs the dialog; the button is pressed once it is up when no person is there.
int Exec(QDialog& dialog, QPushButton* button, bool pressForUser)
{
    if (pressForUser) {
        Tell(dialog);
        QTimer::singleShot(0, button, &QPushButton::click);
    }
    return dialog.exec();
}

int QtMessageBox(const char* text, const char* caption, UINT type)
{
    const QMessageBox::Icon icon = (type & 0xF0) == MB_ICONWARNING ? QMessageBox::Warning : QMessageBox::Information;
    QMessageBox box(icon, caption, text, QMessageBox::Ok);
    box.exec();
    return IDOK;
}

}  // namespace

QtInstallerDialogs::QtInstallerDialogs(bool pressForUser) : m_PressForUser(pressForUser) {}

QtInstallerDialogs::~QtInstallerDialogs() = default;

bool QtInstallerDialogs::AskToInstall(const std::string& versions)
{
    CInstallDialog dialog;
    dialog.SetVersions(QString::fromStdString(versions));
    return Exec(dialog, dialog.InstallButton(), m_PressForUser) == 1;
}

void QtInstallerDialogs::ShowUpdating()
{
    m_Updating = std::make_unique<CUpdatingDialog>();
    if (m_PressForUser) {
        Tell(*m_Updating);
    }
    m_Updating->show();
    QApplication::processEvents();
}

void QtInstallerDialogs::CloseUpdating() { m_Updating.reset(); }

void QtInstallerDialogs::ShowComplete()
{
    CCompleteDialog dialog;
    Exec(dialog, dialog.OkButton(), m_PressForUser);
}

void UseQtMessageBoxes() { harrow::platform::SetMessageBoxHandler(QtMessageBox); }

// The installer's dialogs: their texts, their results, where they open, and
// a screenshot of each under the build tree.
#include "installer/Dialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <cstdlib>
#include <filesystem>

namespace {

QStringList Texts(const QDialog& dialog)
{
    QStringList texts;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        texts << label->text();
    }
    return texts;
}

// Shows the dialog, saves what it looks like and checks that it is centred.
void Photograph(QDialog& dialog, const std::string& name)
{
    dialog.show();
    QApplication::processEvents();
    const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((dialog.frameGeometry().center() - screenCentre).manhattanLength(), 2) << name;
    std::filesystem::create_directories(HARROW_SCREENSHOTS);
    const std::string path = std::string(HARROW_SCREENSHOTS) + "/" + name + ".png";
    EXPECT_TRUE(dialog.grab().save(QString::fromStdString(path))) << path;
}

// Presses the button once the dialog runs; the dialog's result.
int Press(QDialog& dialog, QPushButton* button)
{
    QTimer::singleShot(0, button, &QPushButton::click);
    return dialog.exec();
}

class InstallerDialogs : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "installer_tests";
        static char* argv[] = {name, nullptr};
        s_application = new QApplication(argc, argv);
    }
    static void TearDownTestSuite()
    {
        delete s_application;
        s_application = nullptr;
    }
    static QApplication* s_application;
};
QApplication* InstallerDialogs::s_application = nullptr;

TEST_F(InstallerDialogs, Updating)
{
    CUpdatingDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "ASPI Installer");
    EXPECT_EQ(Texts(dialog), QStringList{"Updating ASPI layer..."});
    EXPECT_TRUE(dialog.findChildren<QPushButton*>().isEmpty());
    EXPECT_FALSE(dialog.isModal());
    Photograph(dialog, "OrbInst-101-updating");
}

TEST_F(InstallerDialogs, Complete)
{
    CCompleteDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "Complete");
    EXPECT_EQ(Texts(dialog), (QStringList{"ASPI has been installed on your system",
                                          "Your system will need to be rebooted for the changed to take affect"}));
    EXPECT_EQ(dialog.OkButton()->text(), "&OK");
    Photograph(dialog, "OrbInst-102-complete");
    EXPECT_EQ(Press(dialog, dialog.OkButton()), 1);
}

TEST_F(InstallerDialogs, Install)
{
    CInstallDialog dialog;
    dialog.SetVersions("Current Version - None     New Version - 1.0.0.0");
    EXPECT_EQ(dialog.windowTitle(), "Orb Installer");
    EXPECT_EQ(Texts(dialog),
              (QStringList{"This program requires ASPI drivers to be installed.\n\n Do you want to install this version of ASPI now?",
                           "Current Version - None     New Version - 1.0.0.0"}));
    EXPECT_NE(dialog.findChild<QLabel*>("1000"), nullptr);
    EXPECT_EQ(dialog.InstallButton()->text(), "Install  this ASPI now ");
    EXPECT_EQ(dialog.DeclineButton()->text(), "Do NOT Install this ASPI");
    Photograph(dialog, "OrbInst-103-install");
    EXPECT_EQ(Press(dialog, dialog.InstallButton()), 1);
    EXPECT_EQ(Press(dialog, dialog.DeclineButton()), 0);
}

}  // namespace

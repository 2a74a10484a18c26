// What the GUI tests of one page share: a fresh home on a machine file, the
// program started in it, message boxes answered, and a look at the results.
#pragma once

#include "support/FileText.h"
#include "support/TestHome.h"

#include "gui/CHarrowApp.h"
#include "gui/CHarrowView.h"
#include "gui/CMainFrame.h"
#include "gui/CRescanIdentPg.h"
#include "gui/Profile.h"
#include "gui/StatusDisplay.h"
#include "gui/WizardPage.h"
#include "platform/System.h"

#include <QDir>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace gui_fixture {

// Every wait of these tests ends here at the latest.
constexpr int kWaitMs = 30000;

struct Answered {
    std::string text;
    std::string caption;
    UINT type = 0;
};

inline std::vector<Answered> g_boxes;
inline int g_nextAnswer = IDYES;

inline int RecordBox(const char* text, const char* caption, UINT type)
{
    g_boxes.push_back({text, caption, type});
    return (type & 0x0F) == MB_YESNO ? g_nextAnswer : IDOK;
}

inline std::string ReadFile(const std::filesystem::path& file) { return test_support::ReadText(file); }

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class GuiFixture {
protected:
    std::filesystem::path m_home;
    std::filesystem::path m_oldDir;
    std::unique_ptr<CHarrowApp> m_app;

    CHarrowView* View() { return m_app->Frame()->View(); }
    std::filesystem::path RunDir() const { return m_home / "run"; }
    std::string Log() { return ReadFile(RunDir() / "HarrowCLI.log"); }

    void Begin(const char* machineFile)
    {
        m_home = test_support::MakeTestHome("gui");
        test_support::UseMachineFile(m_home, ReadFile(machineFile));
        m_oldDir = std::filesystem::current_path();
        std::filesystem::create_directories(RunDir());
        std::filesystem::current_path(RunDir());
        g_boxes.clear();
        g_nextAnswer = IDYES;
        profile::WriteNumber("Options", "splash", 0);
        m_app = std::make_unique<CHarrowApp>();
        QCOMPARE(m_app->Start(), CHarrowApp::StartResult::Started);
        harrow::platform::SetMessageBoxHandler(RecordBox);
        QTRY_VERIFY_WITH_TIMEOUT(View()->DevicePage()->Tree()->topLevelItemCount() > 0, kWaitMs);
    }

    void End()
    {
        m_app.reset();
        std::filesystem::current_path(m_oldDir);
        test_support::LeaveTestHome(m_home);
    }

    // Ticks the devices whose tree lines start so, in the order given, and shows the page.
    void SelectAndGo(const std::vector<QString>& starts, int page)
    {
        for (const QString& start : starts) {
            bool found = false;
            for (QTreeWidgetItemIterator it(View()->DevicePage()->Tree()); *it != nullptr; ++it) {
                if ((*it)->text(0).startsWith(start)) {
                    (*it)->setCheckState(0, Qt::Checked);
                    found = true;
                }
            }
            QVERIFY2(found, qPrintable(start));
        }
        View()->GoTo(page);
        Settle();
    }

    // Waits until the page shown has read what it shows from its drive.
    void Settle()
    {
        auto* shown = qobject_cast<WizardPage*>(View()->PageWidget(View()->CurrentPage()));
        QTRY_VERIFY_WITH_TIMEOUT(shown == nullptr || !shown->Reading(), kWaitMs);
    }

    QString StatusOf(const QString& start)
    {
        for (QTreeWidgetItemIterator it(View()->Status()->Tree()); *it != nullptr; ++it) {
            if ((*it)->text(0).startsWith(start)) {
                return (*it)->text(1);
            }
        }
        return "<no line " + start + ">";
    }

    void WaitForEnd() { QTRY_VERIFY_WITH_TIMEOUT(!View()->State().Busy(), kWaitMs); }

    // The screenshots every run leaves for a person to look at.
    void SaveShot(const QString& name)
    {
        const QString dir = QStringLiteral(HARROW_GUI_SHOTS);
        QDir().mkpath(dir);
        QCoreApplication::processEvents();  // the layout takes texts set just before
        QVERIFY2(m_app->Frame()->grab().save(dir + "/" + name + ".png"), qPrintable(name));
    }
};

}  // namespace gui_fixture

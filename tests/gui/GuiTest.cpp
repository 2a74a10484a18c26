// Drives the real windows of Harrow on simulated machines, headless.
#include "support/FileText.h"
#include "support/TestHome.h"

#include "frontend/CommandRoutine.h"
#include "gui/CDriveSelfTest.h"
#include "gui/CHarrowApp.h"
#include "gui/CHarrowView.h"
#include "gui/CHyperLink.h"
#include "gui/CMainFrame.h"
#include "gui/CRescanIdentPg.h"
#include "gui/DeviceSelection.h"
#include "gui/Profile.h"
#include "gui/StatusDisplay.h"
#include "platform/System.h"

#include <QDir>
#include <QMenuBar>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>

#include <filesystem>
#include <memory>

using test_support::ReadText;

namespace {

// Every wait of these tests ends here at the latest.
constexpr int kWaitMs = 30000;

struct Answered {
    std::string text;
    std::string caption;
    UINT type = 0;
};

std::vector<Answered> g_boxes;
int g_nextAnswer = IDNO;

int RecordBox(const char* text, const char* caption, UINT type)
{
    g_boxes.push_back({text, caption, type});
    return (type & 0x0F) == MB_YESNO ? g_nextAnswer : IDOK;
}

// The screenshots every run leaves for a person to look at.
void SaveShot(QWidget* widget, const QString& name)
{
    const QString dir = QStringLiteral(HARROW_GUI_SHOTS);
    QDir().mkpath(dir);
    QVERIFY2(widget->grab().save(dir + "/" + name + ".png"), qPrintable(name));
}

}  // namespace

class GuiTest : public QObject {
    Q_OBJECT

private:
    std::filesystem::path m_home;
    std::filesystem::path m_oldDir;
    std::unique_ptr<CHarrowApp> m_app;

    CMainFrame* Frame() { return m_app->Frame(); }
    CHarrowView* View() { return Frame()->View(); }

    QMenu* OemMenu()
    {
        for (QAction* item : Frame()->menuBar()->actions()) {
            if (item->menu() != nullptr && item->menu()->objectName() == "oemMenu") {
                return item->menu();
            }
        }
        return nullptr;
    }

    void StartApp(bool splash = false)
    {
        profile::WriteNumber("Options", "splash", splash ? 1 : 0);
        m_app = std::make_unique<CHarrowApp>();
        QCOMPARE(m_app->Start(), CHarrowApp::StartResult::Started);
        harrow::platform::SetMessageBoxHandler(RecordBox);
        QTRY_VERIFY_WITH_TIMEOUT(View()->DevicePage()->Tree()->topLevelItemCount() > 0, kWaitMs);
    }

    QTreeWidgetItem* DeviceItem(const QString& start)
    {
        for (QTreeWidgetItemIterator it(View()->DevicePage()->Tree()); *it != nullptr; ++it) {
            if ((*it)->text(0).startsWith(start)) {
                return *it;
            }
        }
        return nullptr;
    }

    void Tick(const QString& start)
    {
        QTreeWidgetItem* item = DeviceItem(start);
        QVERIFY2(item != nullptr, qPrintable(start));
        item->setCheckState(0, Qt::Checked);
    }

    std::string Log() { return ReadText(m_home / "run" / "HarrowCLI.log"); }

    QString StatusOf(const QString& start)
    {
        for (QTreeWidgetItemIterator it(View()->Status()->Tree()); *it != nullptr; ++it) {
            if ((*it)->text(0).startsWith(start)) {
                return (*it)->text(1);
            }
        }
        return "<no line " + start + ">";
    }

    void RunTest(bool longTest)
    {
        View()->GoTo(CHarrowView::PAGE_DRIVE_TESTS);
        CDriveSelfTest* page = View()->DriveTestPage();
        page->findChild<QRadioButton*>(longTest ? "longTest" : "shortTest")->setChecked(true);
        QTest::mouseClick(page->findChild<QPushButton*>("startTest"), Qt::LeftButton);
        QVERIFY(View()->State().Busy());
    }

    void WaitForEnd() { QTRY_VERIFY_WITH_TIMEOUT(!View()->State().Busy(), kWaitMs); }

private slots:
    void init()
    {
        m_home = test_support::MakeTestHome("gui");
        test_support::UseMachineFile(m_home, ReadText(HARROW_GUI_MACHINE));
        // The original pacing (scaled): a long test must still run when the page is looked at.
        QVERIFY(profile::WriteNumber("Options", "CommandPauseMs", 250));
        // Log and per-drive files land in the working folder.
        m_oldDir = std::filesystem::current_path();
        std::filesystem::create_directories(m_home / "run");
        std::filesystem::current_path(m_home / "run");
        g_boxes.clear();
    }

    void cleanup()
    {
        m_app.reset();
        std::filesystem::current_path(m_oldDir);
        test_support::LeaveTestHome(m_home);
    }

    void deviceTreeShowsEveryAdapterAndDevice()
    {
        StartApp();
        QTreeWidget* tree = View()->DevicePage()->Tree();
        QCOMPARE(tree->topLevelItemCount(), 3);
        QVERIFY(tree->topLevelItem(0)->text(0).startsWith("SCSI Port 0 SCSI ID: 7 "));
        QVERIFY(tree->topLevelItem(2)->text(0).startsWith("RAID Controller Port 2 SCSI ID: "));
        QCOMPARE(tree->topLevelItem(2)->child(0)->text(0), QString("Channel 0"));
        QCOMPARE(tree->topLevelItem(2)->child(1)->text(0), QString("Channel 1"));
        QCOMPARE(tree->topLevelItem(2)->child(0)->child(0)->text(0),
                 QString("Disc 2:0:0:0 KESTREL KX18LVD Version: K100 RAID0000  Capacity = 4 MB On Line"));
        QCOMPARE(tree->topLevelItem(0)->child(0)->text(0),
                 QString("Disc 0:0:0 KESTREL KX18LVD Version: K100 DST00000  Capacity = 4 MB On Line"));
        QCOMPARE(tree->topLevelItem(0)->child(2)->text(0),
                 QString("Disc 0:2:0 MERIDIAN MD3600LW Version: K100   Capacity = 4 MB On Line"));
        QVERIFY(tree->topLevelItem(0)->child(3)->text(0).startsWith("Tape 0:4:0 HARROW SIM TAPE Version: "));
        QVERIFY(Log().find("Harrow Viraradiza diagnostic\n") != std::string::npos);
        QVERIFY(Log().find("Device(s) found during bus scan:\n") != std::string::npos);

        // Ticks on two adapters keep tree order; the end marker follows them.
        Tick("Disc 1:3:0");
        Tick("Disc 0:2:0");
        SaveShot(Frame(), "01-devices");
        View()->GoTo(CHarrowView::PAGE_DRIVE_TESTS);
        DeviceSelection& selection = View()->Selection();
        QCOMPARE(static_cast<int>(selection.Records().size()), 2);
        QCOMPARE(selection.Entry(0).hostAdapter, 0);
        QCOMPARE(selection.Entry(1).hostAdapter, 1);
        QCOMPARE(selection.Entry(1).selected, 1u);
        QVERIFY(DeviceSelection::IsEndMarker(selection.Entry(2)));
        QCOMPARE(View()->Status()->Tree()->topLevelItemCount(), 2);

        // Rescan scans again and starts with nothing ticked.
        View()->GoTo(CHarrowView::PAGE_DEVICES);
        QTest::mouseClick(View()->DevicePage()->findChild<QPushButton*>("rescanButton"), Qt::LeftButton);
        // The scan runs off the window's thread: the window says so and goes on answering.
        QCOMPARE(View()->State().activity.load(), static_cast<int>(ACTIVITY_RESCAN));
        QVERIFY(View()->DevicePage()->findChild<QProgressBar*>("scanBusy")->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!View()->State().Busy(), kWaitMs);
        QCOMPARE(tree->topLevelItemCount(), 3);
        QCOMPARE(DeviceItem("Disc 0:2:0")->checkState(0), Qt::Unchecked);
        const std::string log = Log();
        QVERIFY(log.find("Device(s) found during bus scan:") != log.rfind("Device(s) found during bus scan:"));
    }

    void emptySelectionStartsNothing()
    {
        StartApp();
        View()->GoTo(CHarrowView::PAGE_DRIVE_TESTS);
        QVERIFY(DeviceSelection::IsEndMarker(View()->Selection().Entry(0)));
        CDriveSelfTest* page = View()->DriveTestPage();
        QVERIFY(!page->findChild<QPushButton*>("startTest")->isEnabled());
        page->StartTest();
        QVERIFY(!View()->State().Busy());
        QVERIFY(Log().find("Beginning Disc Test Execution") == std::string::npos);
        QVERIFY(page->findChild<QLabel*>("testNote")->text().startsWith("No device is selected."));
    }

    void shortTestsRunSideBySide()
    {
        StartApp();
        Tick("Disc 0:0:0");
        Tick("Disc 0:1:0");
        Tick("Disc 0:2:0");
        RunTest(false);
        QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(g_boxes.size()), 1, kWaitMs);
        QCOMPARE(g_boxes[0].text,
                 std::string("Selected drive(s) do not support Drive Self Test (DST).  Listed Kestrel drives will run "
                             "Legacy Test.  Listed non-Kestrel devices limited to Generic Tests.: \n\n"
                             "\tKestrel Drive:  Host:0 Target:1 Lun:0 \n"
                             "\tNon-Kestrel Drive:  Host:0 Target:2 Lun:0 \n"
                             "\nDeselect non-Kestrel devices to run DST."));
        QVERIFY(!View()->findChild<QPushButton*>("nextButton")->isEnabled());
        WaitForEnd();
        QCOMPARE(StatusOf("Disc 0:0:0"), QString("Drive Self Test Completed Without Error"));
        QCOMPARE(StatusOf("Disc 0:1:0"), QString("Legacy Short Test Passed"));
        QCOMPARE(StatusOf("Disc 0:2:0"), QString("Generic Short Test Passed"));
        QVERIFY(View()->findChild<QPushButton*>("nextButton")->isEnabled());
        const std::string log = Log();
        for (const char* line : {" Beginning Disc Test Execution\n", " Disc Starting DST Short test\n",
                                 " Disc Starting Legacy Short test\n", " Disc Starting Generic Short test\n",
                                 " Disc Test(s) have Completed Execution\n"}) {
            QVERIFY2(log.find(line) != std::string::npos, line);
        }
        QVERIFY(log.find("Beginning") < log.find("Disc Starting DST"));
        QVERIFY(log.find("Disc Starting Generic") < log.find("have Completed"));
        QVERIFY(View()->DriveTestPage()->findChild<QLabel*>("startedText")->text().startsWith("Short Test started at "));
        // The maker's drives keep their own file, named after the serial number.
        QVERIFY(ReadText(m_home / "run" / "LEG00001.txt").find("Legacy Short Test Passed") != std::string::npos);
        SaveShot(Frame(), "02-drive-tests");
    }

    void longTestsAbort()
    {
        StartApp();
        Tick("Disc 0:0:0");
        Tick("Disc 1:3:0");
        Tick("Disc 1:5:0");
        RunTest(true);
        QTRY_VERIFY_WITH_TIMEOUT(StatusOf("Disc 1:3:0") == "Performing Sequential Verify Commands", kWaitMs);
        QCOMPARE(StatusOf("Disc 0:0:0"), QString("Drive Self Test In Progress"));
        QTest::mouseClick(View()->Status()->findChild<QPushButton*>("statusAbort"), Qt::LeftButton);
        WaitForEnd();
        QCOMPARE(View()->State().abortFlag.load(), 1);
        QCOMPARE(StatusOf("Disc 0:0:0"), QString("Drive Self Test Aborted"));
        QCOMPARE(StatusOf("Disc 1:3:0"), QString("Generic Long Test Aborted"));
        QCOMPARE(StatusOf("Disc 1:5:0"), QString("Legacy Long Test Aborted"));
        const std::string log = Log();
        for (const char* line : {"Port:0 Target:0 Lun:0  Aborting Drive Self Test\n",
                                 "Port:1 Target:3 Lun:0  Aborting Generic Test\n",
                                 "Port:1 Target:5 Lun:0  Aborting Legacy Test\n", " Disc Test(s) Aborted by user\n",
                                 " Disc Test(s) have Completed Execution\n"}) {
            QVERIFY2(log.find(line) != std::string::npos, line);
        }
    }

    void failuresShowInStatusLines()
    {
        StartApp();
        Tick("Disc 0:5:0");
        Tick("Disc 0:6:0");
        RunTest(false);
        WaitForEnd();
        QCOMPARE(StatusOf("Disc 0:5:0"), QString("Drive Self Test Second Segment Failed"));
        QCOMPARE(StatusOf("Disc 0:6:0"), QString(" Generic Short Test Failed 03 / 11 / 00"));
        QVERIFY(Log().find("Port:0 Target:6 Lun:0   Generic Short Test Failed 03 / 11 / 00\n") != std::string::npos);
    }

    void advancedModeAsksFirst()
    {
        StartApp();
        QMenuBar* bar = Frame()->menuBar();
        QCOMPARE(bar->actions().size(), 6);
        QVERIFY(!Frame()->AdvancedMode());
        QVERIFY(!Frame()->StandardToolbar()->isHidden());

        g_nextAnswer = IDNO;
        Frame()->ToggleAdvancedMode();
        QCOMPARE(static_cast<int>(g_boxes.size()), 1);
        QCOMPARE(g_boxes[0].caption, std::string("Harrow Viraradiza"));
        QVERIFY(g_boxes[0].text.find("Do you want to enter the Advanced diagnostic section?") != std::string::npos);
        QVERIFY(!Frame()->AdvancedMode());
        QCOMPARE(bar->actions().size(), 6);
        QVERIFY(Log().find(" Not entering Advanced diagnostic section\n") != std::string::npos);

        g_nextAnswer = IDYES;
        Frame()->ToggleAdvancedMode();
        QVERIFY(Frame()->AdvancedMode());
        QVERIFY(Frame()->StandardToolbar()->isHidden());
        QCOMPARE(bar->actions().size(), 7);
        QCOMPARE(bar->actions().at(4)->text(), QString("&Advanced"));
        QVERIFY(Log().find(" Entering Advanced diagnostic section\n") != std::string::npos);
        SaveShot(Frame(), "03-advanced-mode");

        // Leaving asks nothing; closing keeps the mode it closed in.
        Frame()->ToggleAdvancedMode();
        QCOMPARE(static_cast<int>(g_boxes.size()), 2);
        QCOMPARE(bar->actions().size(), 6);
        Frame()->ToggleAdvancedMode();
        Frame()->close();
        QCOMPARE(profile::ReadNumber("Display", "AdvMode", 7), 1ul);
        m_app.reset();
        QVERIFY(Log().find(" Exiting Harrow Viraradiza diagnostic\n") != std::string::npos);
    }

    void secondInstanceBringsFirstForward()
    {
        StartApp();
        Frame()->showMinimized();
        QTRY_VERIFY_WITH_TIMEOUT(Frame()->isMinimized(), kWaitMs);
        QProcess second;
        second.start(QStringLiteral(HARROW_GUI_PATH), {});
        QVERIFY(second.waitForStarted(kWaitMs));
        QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, kWaitMs);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!Frame()->isMinimized(), kWaitMs);
        const std::string log = Log();
        QCOMPARE(log.find("Harrow Viraradiza diagnostic"), log.rfind("Harrow Viraradiza diagnostic"));
    }

    void terminateClosesTheWindow()
    {
        profile::WriteNumber("Options", "splash", 0);
        QProcess program;
        program.start(QStringLiteral(HARROW_GUI_PATH), {});
        QVERIFY(program.waitForStarted(kWaitMs));
        QTRY_VERIFY_WITH_TIMEOUT(Log().find("Device(s) found during bus scan:") != std::string::npos, kWaitMs);
        program.terminate();
        QVERIFY(program.waitForFinished(kWaitMs));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(Log().find(" Exiting Harrow Viraradiza diagnostic\n") != std::string::npos);
        QCOMPARE(profile::ReadNumber("Display", "AdvMode", 7), 0ul);
    }

    void everyPageIsReachable()
    {
        StartApp(true);
        QWidget* splash = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->inherits("QSplashScreen") && widget->isVisible()) {
                splash = widget;
            }
        }
        QVERIFY2(splash != nullptr, "the splash window shows when Options\\splash is 1");
        SaveShot(splash, "00-splash");
        for (int page = 0; page < CHarrowView::PAGE_COUNT; ++page) {
            View()->GoTo(page);
            QCOMPARE(View()->CurrentPage(), page);
            if (page > CHarrowView::PAGE_DRIVE_TESTS) {
                QVERIFY(View()->findChild<QLabel*>("pageTitle")->text() == CHarrowView::PageTitle(page));
            }
            SaveShot(Frame(), QString("page-%1").arg(page, 2, 10, QChar('0')));
        }
        QVERIFY(!View()->findChild<QPushButton*>("nextButton")->isEnabled());
    }

    void selectionKeepsItsLimit()
    {
        DeviceSelection selection;
        std::vector<DeviceRecord> records(DeviceSelection::kCapacity + 3);
        std::vector<const DeviceRecord*> ticked;
        for (std::size_t i = 0; i < records.size(); ++i) {
            records[i].hostAdapter = 0;
            records[i].target = static_cast<int>(i % 16);
            records[i].lun = static_cast<int>(i / 16);
            ticked.push_back(&records[i]);
        }
        QCOMPARE(selection.Build(ticked), std::size_t{3});
        QCOMPARE(selection.Records().size(), DeviceSelection::kCapacity);
        QVERIFY(DeviceSelection::IsEndMarker(selection.Entry(DeviceSelection::kCapacity)));
        QCOMPARE(selection.Build({}), std::size_t{0});
        QVERIFY(selection.Empty());
    }

    void hyperlinkTexts()
    {
        QCOMPARE(HyperlinkErrorText(2), std::string("The specified file was not found."));
        QCOMPARE(HyperlinkErrorText(31),
                 std::string("There is no application associated\nwith the given filename extension."));
        QCOMPARE(HyperlinkErrorText(0), std::string("The operating system is out\nof memory or resources."));
        QCOMPARE(HyperlinkErrorText(33), std::string("Unknown Error (33) occurred."));
        QCOMPARE(OpenCommandLine("\"C:\\web.exe\" -nohome \"%1\"", "a.htm"), std::string("\"C:\\web.exe\" -nohome a.htm"));
        QCOMPARE(OpenCommandLine("web %1 -x", "a.htm"), std::string("web a.htm"));
        QCOMPARE(OpenCommandLine("web", "a.htm"), std::string("web a.htm"));
    }

    // The plug-in tests run with the plug-in's folder on the library path (see CMakeLists).
    void oemPluginComplete()
    {
        StartApp();
        QVERIFY(Frame()->Plugin().Found());
        QMenu* oem = OemMenu();
        QVERIFY(oem != nullptr);
        QCOMPARE(Frame()->menuBar()->actions().size(), 7);
        QCOMPARE(Frame()->menuBar()->actions().at(5)->text(), QString("&Kestrel OEM"));

        // Nothing selected: the command does nothing.
        oem->actions().at(0)->trigger();
        QCOMPARE(View()->CurrentPage(), static_cast<int>(CHarrowView::PAGE_DEVICES));
        QVERIFY(g_boxes.empty());

        // A foreign disk in the selection is refused.
        Tick("Disc 0:2:0");
        oem->actions().at(0)->trigger();
        QCOMPARE(static_cast<int>(g_boxes.size()), 1);
        QVERIFY(g_boxes[0].text.find("Kestrel drives only") != std::string::npos);
        DeviceItem("Disc 0:2:0")->setCheckState(0, Qt::Unchecked);

        Tick("Disc 0:0:0");
        Tick("Disc 0:1:0");
        View()->GoTo(CHarrowView::PAGE_DEVICES);
        oem->actions().at(1)->trigger();
        QCOMPARE(View()->PageCount(), CHarrowView::PAGE_COUNT + 2);
        QCOMPARE(View()->CurrentPage(), static_cast<int>(CHarrowView::PAGE_COUNT));
        auto* page = View()->findChild<QLabel*>("oemPage0");
        QVERIFY(page != nullptr);
        QCOMPARE(page->text(), QString("Command 50001 page 0: 0:0:0/255/255 0:1:0/255/255"));
        QCOMPARE(View()->findChild<QLabel*>("pageTitle")->text(), QString("OEM Page 0"));
        SaveShot(Frame(), "04-oem-page");
    }

    void oemPluginEmptyName()
    {
        StartApp();
        QVERIFY(OemMenu() == nullptr);
        QCOMPARE(Frame()->menuBar()->actions().size(), 6);
        QVERIFY(Frame()->Plugin().Found());
    }

    void oemPluginIncomplete()
    {
        StartApp();
        QVERIFY(!Frame()->Plugin().Found());
        QCOMPARE(Frame()->menuBar()->actions().size(), 6);
    }
};

QTEST_MAIN(GuiTest)
#include "GuiTest.moc"

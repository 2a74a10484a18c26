// The suite's own plug-in ("OEMTest.DLL") in the real window, headless, on
// simulated Kestrel drives: its menu, its pages and the engine tests it runs.
#include "support/FileText.h"
#include "support/TestHome.h"

#include "core/devices/SCSIDevice.h"
#include "core/system/CComputerSystem.h"
#include "gui/CHarrowApp.h"
#include "gui/CHarrowView.h"
#include "gui/CMainFrame.h"
#include "gui/CRescanIdentPg.h"
#include "platform/System.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>
#include <map>
#include <memory>

namespace {

constexpr int WAIT_MS = 30000;

std::vector<std::string> g_questions;
int g_answer = IDNO;

int RecordBox(const char* text, const char*, UINT)
{
    g_questions.emplace_back(text);
    return g_answer;
}

using test_support::ReadText;

// Every file under the folder with its bytes: what the drives keep.
std::map<std::string, std::string> Snapshot(const std::filesystem::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files[entry.path().string()] = ReadText(entry.path());
        }
    }
    return files;
}

}  // namespace

class OemPluginTest : public QObject {
    Q_OBJECT

private:
    std::filesystem::path m_home;
    std::filesystem::path m_oldDir;
    std::unique_ptr<CHarrowApp> m_app;

    CHarrowView* View() { return m_app->Frame()->View(); }
    std::string Log() { return ReadText(m_home / "run" / "HarrowCLI.log"); }
    template <class Widget>
    Widget* Find(const QString& name)
    {
        auto* widget = View()->findChild<Widget*>(name);
        [&] { QVERIFY2(widget != nullptr, qPrintable(name)); }();
        return widget;
    }

    QMenu* OemMenu()
    {
        for (QAction* item : m_app->Frame()->menuBar()->actions()) {
            if (item->menu() != nullptr && item->menu()->objectName() == "oemMenu") {
                return item->menu();
            }
        }
        return nullptr;
    }

    // Ticks the drives and chooses the plug-in command: its parameter page shows.
    void Choose(std::initializer_list<const char*> drives, int commandId)
    {
        m_app.reset();
        m_app = std::make_unique<CHarrowApp>();
        QCOMPARE(m_app->Start(), CHarrowApp::StartResult::Started);
        harrow::platform::SetMessageBoxHandler(RecordBox);
        QTreeWidget* tree = View()->DevicePage()->Tree();
        QTRY_VERIFY_WITH_TIMEOUT(tree->topLevelItemCount() > 0, WAIT_MS);
        for (const char* drive : drives) {
            bool ticked = false;
            for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
                if ((*it)->text(0).startsWith(drive)) {
                    (*it)->setCheckState(0, Qt::Checked);
                    ticked = true;
                }
            }
            QVERIFY2(ticked, drive);
        }
        QMenu* menu = OemMenu();
        QVERIFY(menu != nullptr);
        for (QAction* action : menu->actions()) {
            if (action->data().toInt() == commandId) {
                action->trigger();
            }
        }
        QCOMPARE(View()->CurrentPage(), static_cast<int>(CHarrowView::PAGE_COUNT));
    }

    void StartRun()
    {
        View()->GoTo(View()->CurrentPage() + 1);
        QTest::mouseClick(Find<QPushButton>("oemStart"), Qt::LeftButton);
    }

    void WaitForEnd() { QTRY_VERIFY_WITH_TIMEOUT(Find<QPushButton>("oemStart")->isEnabled(), WAIT_MS); }

    QString State(int row) { return Find<QLabel>(QString("oemState%1").arg(row))->text(); }

    void Shot(const QString& name)
    {
        QDir().mkpath(HARROW_GUI_SHOTS);
        QVERIFY(m_app->Frame()->grab().save(QString(HARROW_GUI_SHOTS) + "/" + name + ".png"));
    }

private slots:
    void init()
    {
        m_home = test_support::MakeTestHome("oem");
        test_support::UseMachineFile(m_home, ReadText(HARROW_OEM_MACHINE));
        m_oldDir = std::filesystem::current_path();
        std::filesystem::create_directories(m_home / "run");
        std::filesystem::current_path(m_home / "run");
        g_questions.clear();
        g_answer = IDNO;
    }

    void cleanup()
    {
        m_app.reset();
        std::filesystem::current_path(m_oldDir);
        test_support::LeaveTestHome(m_home);
    }

    void menuOffersEveryEngineTest()
    {
        Choose({"Disc 0:0:0"}, 50000);
        QMenu* menu = OemMenu();
        QCOMPARE(menu->title(), QString("O&EM Tests"));
        QList<int> ids;
        for (QAction* action : menu->actions()) {
            if (!action->isSeparator()) {
                ids << action->data().toInt();
            }
        }
        QCOMPARE(ids, (QList<int>{50000, 50001, 50002, 50003, 50004, 50010, 50011, 50012, 50013, 50020, 50021,
                                  50022, 50030}));
        QCOMPARE(Find<QLabel>("pageTitle")->text(), QString("Sequential Read Parameters"));

        // Bad input is named at once and starts nothing.
        Find<QRadioButton>("oemRangeChoice")->setChecked(true);
        Find<QSpinBox>("oemStartBlock")->setValue(100);
        Find<QSpinBox>("oemEndBlock")->setValue(50);
        QCOMPARE(Find<QLabel>("oemCheck")->text(), QString("The first block must lie below the end block."));
        // The end is exclusive: the 4096-block drives' end is 4096, which takes their last block.
        Find<QSpinBox>("oemEndBlock")->setValue(4097);
        QCOMPARE(Find<QLabel>("oemCheck")->text(),
                 QString("The end block must not pass 4096, the end of the smallest drive."));
        Find<QSpinBox>("oemEndBlock")->setValue(4096);
        QCOMPARE(Find<QLabel>("oemCheck")->text(), QString("Ready: press Next, then Start."));
        Find<QComboBox>("oemPattern")->setCurrentIndex(Find<QComboBox>("oemPattern")->findText("User pattern"));
        Find<QRadioButton>("oemShareChoice")->setChecked(true);
        QVERIFY(Find<QLabel>("oemCheck")->text().startsWith("The user pattern is pairs of hexadecimal digits"));
        Shot("oem-01-parameters");
        StartRun();
        QVERIFY(Find<QLabel>("oemNote")->text().startsWith("The user pattern is pairs"));
        QVERIFY(Log().find("Beginning Disc Test Execution") == std::string::npos);
    }

    void sequentialReadOfTwoDrivesRunsToTheEnd()
    {
        Choose({"Disc 0:0:0", "Disc 0:2:0"}, 50000);
        // The new drives hold zeros: the data read matches the pattern.
        Find<QComboBox>("oemPattern")->setCurrentIndex(Find<QComboBox>("oemPattern")->findText("Fixed bytes 00"));
        QVERIFY(Find<QCheckBox>("oemCompare")->isChecked());
        // 256 commands of 5 ms each: long enough for the chart to draw.
        Find<QSpinBox>("oemBlocks")->setValue(16);
        StartRun();
        QVERIFY(View()->State().Busy());
        WaitForEnd();
        QVERIFY(!View()->State().Busy());
        for (int row : {0, 1}) {
            QCOMPARE(Find<QProgressBar>(QString("oemProgress%1").arg(row))->value(), 100);
            QCOMPARE(State(row), QString("Passed"));
        }
        QCOMPARE(Find<QListWidget>("oemEvents")->count(), 0);
        const std::string log = Log();
        for (const char* line : {" Beginning Disc Test Execution\n", "Port:0 Target:0 Lun:0  Disc Starting Sequential Read test\n",
                                 "Port:0 Target:2 Lun:0  Sequential Read Test Passed\n",
                                 " Disc Test(s) have Completed Execution\n"}) {
            QVERIFY2(log.find(line) != std::string::npos, line);
        }
        QVERIFY(ReadText(m_home / "run" / "OEM00002.txt").find("Sequential Read Test Passed") != std::string::npos);
        Shot("oem-02-run");
    }

    void mismatchedDataFailsBothDrivesWithTheCompareError()
    {
        // Pattern AA compared against the zeros of new drives.
        Choose({"Disc 0:0:0", "Disc 0:2:0"}, 50000);
        QCOMPARE(Find<QComboBox>("oemPattern")->currentText(), QString("Fixed bytes AA"));
        QVERIFY(Find<QCheckBox>("oemCompare")->isChecked());
        Find<QSpinBox>("oemBlocks")->setValue(16);
        StartRun();
        WaitForEnd();
        QCOMPARE(State(0), QString("Failed"));
        QCOMPARE(State(1), QString("Failed"));
        QListWidget* events = Find<QListWidget>("oemEvents");
        QCOMPARE(events->count(), 2);
        QStringList texts;
        for (int row = 0; row < events->count(); ++row) {
            texts << events->item(row)->text();
        }
        for (const char* device : {"0:0:0", "0:2:0"}) {
            const QString expected =
                QString("DATA COMPARE ERROR: Device %1 at block 0, byte 0: Expected 0xAA, Actual 0x00").arg(device);
            QVERIFY2(texts.filter(expected).size() == 1, qPrintable(texts.join(" | ")));
        }
        QVERIFY(Log().find("Port:0 Target:2 Lun:0  Sequential Read Test Failed\n") != std::string::npos);
    }

    void mediumErrorFailsOnlyItsDrive()
    {
        Choose({"Disc 0:0:0", "Disc 0:1:0"}, 50012);
        // Random blocks over the whole drive, two threads each, every block read back and
        // compared; each read pass starts at its thread's first block, and block 0 is where
        // drive 0:1:0 cannot read.
        Find<QRadioButton>("oemRangeChoice")->setChecked(true);
        Find<QSpinBox>("oemEndBlock")->setValue(4000);
        Find<QSpinBox>("oemBlocks")->setValue(16);
        Find<QSpinBox>("oemThreads")->setValue(2);
        Find<QSpinBox>("oemOperations")->setValue(40);
        QVERIFY(Find<QCheckBox>("oemCompare")->isChecked());
        g_answer = IDYES;
        StartRun();
        WaitForEnd();
        QCOMPARE(State(0), QString("Passed"));
        QCOMPARE(State(1), QString("Failed"));
        // The failed drive keeps its own progress: its writes, not the reads it never made.
        QCOMPARE(Find<QProgressBar>("oemProgress0")->value(), 100);
        const int failedAt = Find<QProgressBar>("oemProgress1")->value();
        QVERIFY2(failedAt > 0 && failedAt < 100, qPrintable(QString::number(failedAt)));
        QListWidget* events = Find<QListWidget>("oemEvents");
        QCOMPARE(events->count(), 1);
        QVERIFY2(events->item(0)->text().contains("Sense Key = 03  Additional Sense Code = 11"), qPrintable(events->item(0)->text()));
        QVERIFY(Log().find("Port:0 Target:1 Lun:0  Random Write-Read Test Failed\n") != std::string::npos);
        Shot("oem-03-medium-error");
    }

    void cancelAbortsEveryDrive()
    {
        Choose({"Disc 0:0:0", "Disc 0:2:0"}, 50010);
        // Reads of the zeros of new drives that match: nothing but the cancel ends them.
        Find<QComboBox>("oemPattern")->setCurrentIndex(Find<QComboBox>("oemPattern")->findText("Fixed bytes 00"));
        Find<QRadioButton>("oemUntilCancelled")->setChecked(true);
        StartRun();
        QTRY_VERIFY_WITH_TIMEOUT(State(0) == "Running" && State(1) == "Running", WAIT_MS);
        QTest::mouseClick(Find<QPushButton>("oemCancel"), Qt::LeftButton);
        WaitForEnd();
        QCOMPARE(State(0), QString("Aborted"));
        QCOMPARE(State(1), QString("Aborted"));
        CComputerSystem* system = CComputerSystem::Instance();
        QCOMPARE(system->GetSCSIDevice(0, 2, 0)->GetTestState(), 3ul);
        QVERIFY(Log().find(" Disc Test(s) Aborted by user\n") != std::string::npos);

        // While it runs the program holds its pages and commands; its own Abort reaches the test.
        QTest::mouseClick(Find<QPushButton>("oemStart"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(State(1) == "Running", WAIT_MS);
        QVERIFY(!Find<QPushButton>("backButton")->isEnabled());
        OemMenu()->actions().at(0)->trigger();
        QCOMPARE(Find<QLabel>("pageTitle")->text(), QString("Random Read Test"));
        QTest::mouseClick(Find<QPushButton>("statusAbort"), Qt::LeftButton);
        WaitForEnd();
        QCOMPARE(State(0), QString("Aborted"));
        QCOMPARE(State(1), QString("Aborted"));
        QVERIFY(Find<QPushButton>("backButton")->isEnabled());
    }

    void userCdbAndSeeksPass()
    {
        // TEST UNIT READY: a CDB that moves nothing is still asked for, as any CDB may write.
        Choose({"Disc 0:0:0"}, 50030);
        QLineEdit* cdb = Find<QLineEdit>("oemCdb");
        cdb->setText("00 00 00");
        QCOMPARE(Find<QLabel>("oemCheck")->text().left(20), QString("The CDB is 6 to 16 b"));
        cdb->setText("00 00 00 00 00 00");
        g_answer = IDYES;
        StartRun();
        WaitForEnd();
        QCOMPARE(g_questions.size(), std::size_t{1});
        QCOMPARE(State(0), QString("Passed"));

        for (int seek : {50020, 50021, 50022}) {
            Choose({"Disc 0:0:0", "Disc 0:2:0"}, seek);
            // A butterfly pass sweeps the range twice: keep it short.
            Find<QRadioButton>("oemRangeChoice")->setChecked(true);
            Find<QSpinBox>("oemEndBlock")->setValue(16);
            Find<QSpinBox>("oemOperations")->setValue(4);
            StartRun();
            WaitForEnd();
            QCOMPARE(State(0), QString("Passed"));
            QCOMPARE(State(1), QString("Passed"));
            QCOMPARE(g_questions.size(), std::size_t{1});
        }
    }

    void refusedWriteSendsNothing()
    {
        Choose({"Disc 0:0:0", "Disc 0:2:0"}, 50002);
        const auto before = Snapshot(m_home / "state");
        g_answer = IDNO;
        StartRun();
        QCOMPARE(g_questions.size(), std::size_t{1});
        QVERIFY(g_questions[0].find("\tDisc 0:0:0 KESTREL KX18LVD OEM00000\n\tDisc 0:2:0 KESTREL KX18LVD OEM00002\n") !=
                std::string::npos);
        QCOMPARE(Find<QLabel>("oemNote")->text(), QString("Not started: the drives keep their data."));
        QVERIFY(!View()->State().Busy());
        QCOMPARE(CComputerSystem::Instance()->GetSCSIDevice(0, 0, 0)->GetTestState(), 0ul);
        QVERIFY(Snapshot(m_home / "state") == before);
        QVERIFY(Log().find("Beginning Disc Test Execution") == std::string::npos);
    }
};

QTEST_MAIN(OemPluginTest)
#include "OemPluginTest.moc"

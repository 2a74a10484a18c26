// Harrow tells the truth about its runs and keeps destructive work away from
// devices it was not meant for: skipped tapes, failures that stand out, run
// summaries, confirmations that name drives, downloads judged by the
// revision the drive reports, and a window that will not close mid-format.
#include "GuiFixture.h"

#include "frontend/DeviceQueries.h"
#include "gui/CDriveSelfTest.h"
#include "gui/CFirmwareDnld.h"
#include "gui/CFirmwareFiles.h"
#include "gui/CFormat.h"
#include "gui/CFormatOnly.h"
#include "gui/CHyperLink.h"
#include "gui/CLogfileView.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolBar>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace gui_fixture;

namespace {

namespace fs = std::filesystem;

std::string Firmware(const char* name) { return std::string(HARROW_DOCS) + "/firmware/" + name; }

void WriteBytes(const fs::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }

// The lab machine with the two large disks of port 1 taking 1 ms (scaled) a
// command: without a command pause their long tests would end before they
// could be aborted.
std::string SlowLongTestMachine()
{
    std::string text = ReadFile(HARROW_GUI_MACHINE);
    for (const std::string serial : {"BIG00003", "BIG00005"}) {
        const std::string quick = "\"serial\": \"" + serial + "\", \"blocks\": 4194304";
        if (const auto at = text.find(quick); at != std::string::npos) {
            text.insert(at + quick.size(), R"(, "durations": { "command": 0.1 })");
        }
    }
    const fs::path file = fs::temp_directory_path() / ("harrow-safety-lab-" + std::to_string(::getpid()) + ".json");
    WriteBytes(file, text);
    return file.string();
}

}  // namespace

class SafetyTest : public QObject, GuiFixture {
    Q_OBJECT

private:
    QString Summary() { return View()->Status()->findChild<QLabel*>("statusSummary")->text(); }
    int Progress() { return View()->Status()->findChild<QProgressBar*>("statusProgress")->value(); }

    QTreeWidgetItem* StatusLine(const QString& start)
    {
        for (QTreeWidgetItemIterator it(View()->Status()->Tree()); *it != nullptr; ++it) {
            if ((*it)->text(0).startsWith(start)) {
                return *it;
            }
        }
        return nullptr;
    }

    QTreeWidgetItem* DeviceLine(const QString& start)
    {
        for (QTreeWidgetItemIterator it(View()->DevicePage()->Tree()); *it != nullptr; ++it) {
            if ((*it)->text(0).startsWith(start)) {
                return *it;
            }
        }
        return nullptr;
    }

    void StartTest(bool longTest)
    {
        View()->DriveTestPage()->SetLongTest(longTest);
        QTest::mouseClick(View()->DriveTestPage()->findChild<QPushButton*>("startTest"), Qt::LeftButton);
        QVERIFY(View()->State().Busy());
    }

    template <class Page>
    Page* PageOf() { return View()->findChild<Page*>(); }

    // Downloads the file to the ticked drives; the question is answered with `answer`.
    void Download(const std::string& file, int answer)
    {
        View()->GoTo(CHarrowView::PAGE_FIRMWARE_FILES);
        PageOf<CFirmwareFiles>()->SetFileName(file);
        View()->GoTo(CHarrowView::PAGE_FIRMWARE_DOWNLOAD);
        g_nextAnswer = answer;
        QTest::mouseClick(PageOf<CFirmwareDnld>()->findChild<QPushButton*>("startDownload"), Qt::LeftButton);
        WaitForEnd();
    }

    void Untick()
    {
        View()->GoTo(CHarrowView::PAGE_DEVICES);
        for (QTreeWidgetItemIterator it(View()->DevicePage()->Tree()); *it != nullptr; ++it) {
            (*it)->setCheckState(0, Qt::Unchecked);
        }
    }

    // A message box as the user sees it, for the screenshot of a question.
    void SaveBoxShot(const Answered& box, const QString& name)
    {
        QMessageBox shown(QMessageBox::Warning, QString::fromStdString(box.caption), QString::fromStdString(box.text),
                          QMessageBox::Yes | QMessageBox::No);
        shown.setDefaultButton(QMessageBox::No);
        shown.show();
        QCoreApplication::processEvents();
        QVERIFY(shown.grab().save(QStringLiteral(HARROW_GUI_SHOTS) + "/" + name + ".png"));
    }

private slots:
    void cleanup() { End(); }

    // A tape cannot run a disk test: it is skipped, not failed, and the summary says so.
    void tapeIsSkippedByDriveTests()
    {
        Begin(HARROW_GUI_MACHINE);
        SelectAndGo({"Disc 0:0:0", "Tape 0:4:0"}, CHarrowView::PAGE_DRIVE_TESTS);
        StartTest(false);
        WaitForEnd();
        QCOMPARE(StatusOf("Tape 0:4:0"), QString("Drive Test skipped: not a disk"));
        QCOMPARE(StatusOf("Disc 0:0:0"), QString("Drive Self Test Completed Without Error"));
        QCOMPARE(Summary(), QString("1 passed, 0 failed, 0 aborted, 1 skipped"));
        QCOMPARE(Progress(), 100);
        const std::string log = Log();
        QVERIFY(Contains(log, "Port:0 Target:4 Lun:0  Drive Test skipped: not a disk\n"));
        QVERIFY(Contains(log, " Disc Test(s) Summary: 1 passed, 0 failed, 0 aborted, 1 skipped\n"));
        QVERIFY(!Contains(log, "Target:4 Lun:0  Disc Starting"));
    }

    // The log lists the devices found; the lines of a failing drive carry its
    // address and reach its own file; failed lines stand out; the bar stops short.
    void failuresStandOutWithSummary()
    {
        Begin(HARROW_GUI_MACHINE);
        const std::string scan = Log();
        const std::size_t found = scan.find("Device(s) found during bus scan:\n");
        QVERIFY(found != std::string::npos);
        QVERIFY(Contains(scan.substr(found), " SCSI Port 0 SCSI ID: 7 "));
        QVERIFY(Contains(scan.substr(found), "     Disc 0:0:0 KESTREL KX18LVD Version: K100 DST00000  Capacity = 4 MB "
                                             "On Line\n"));
        QVERIFY(Contains(scan.substr(found), "     Tape 0:4:0 HARROW SIM TAPE Version: "));

        SelectAndGo({"Disc 0:0:0", "Disc 0:5:0", "Disc 0:6:0"}, CHarrowView::PAGE_DRIVE_TESTS);
        StartTest(false);
        WaitForEnd();
        QCOMPARE(Summary(), QString("1 passed, 2 failed, 0 aborted"));
        QVERIFY(Progress() < 100);
        QTreeWidgetItem* failed = StatusLine("Disc 0:5:0");
        QVERIFY(failed != nullptr);
        QVERIFY(!failed->icon(1).isNull());
        QCOMPARE(failed->foreground(1).color(), QColor(0xB0, 0x00, 0x00));
        QCOMPARE(failed->toolTip(1), QString("Drive Self Test Second Segment Failed"));
        QVERIFY(StatusLine("Disc 0:0:0")->foreground(1).color() != QColor(0xB0, 0x00, 0x00));
        const std::string log = Log();
        QVERIFY(Contains(log, "Port:0 Target:5 Lun:0  Disc Drive Self Test Second Segment Failed\n"));
        QVERIFY(Contains(log, "Port:0 Target:5 Lun:0  Disc Starting DST Short test\n"));
        QVERIFY(Contains(ReadFile(RunDir() / "BAD00005.txt"), "Disc Drive Self Test Second Segment Failed\n"));
        QVERIFY(Contains(log, "Port:0 Target:6 Lun:0  Start 100% Generic Short Test"));
        SaveShot("safety-drive-tests-failure");

        // The window fits a 1024x768 screen and the verdicts stay whole there.
        QVERIFY(m_app->Frame()->minimumWidth() <= 1024 && m_app->Frame()->minimumHeight() <= 700);
        m_app->Frame()->resize(1024, 768);
        QCoreApplication::processEvents();
        QCOMPARE(m_app->Frame()->size(), QSize(1024, 768));
        QTreeWidget* tree = View()->Status()->Tree();
        const int needed = tree->fontMetrics().horizontalAdvance(failed->text(1));
        QVERIFY(tree->header()->sectionSize(1) >= needed);
        SaveShot("safety-window-1024x768");
    }

    void abortedRunNeverShowsFull()
    {
        const std::string machine = SlowLongTestMachine();
        Begin(machine.c_str());
        fs::remove(machine);
        SelectAndGo({"Disc 0:0:0", "Disc 1:3:0", "Disc 1:5:0"}, CHarrowView::PAGE_DRIVE_TESTS);
        StartTest(true);
        QTRY_VERIFY_WITH_TIMEOUT(StatusOf("Disc 1:3:0") == "Performing Sequential Verify Commands", kWaitMs);
        QTest::mouseClick(View()->Status()->findChild<QPushButton*>("statusAbort"), Qt::LeftButton);
        WaitForEnd();
        QCOMPARE(Summary(), QString("0 passed, 0 failed, 3 aborted"));
        QVERIFY(Progress() < 100);
        QVERIFY(!StatusLine("Disc 1:3:0")->icon(1).isNull());
        SaveShot("safety-status-after-abort");
    }

    // A drive behind a RAID channel shows host adapter, channel, target and LUN.
    void raidChannelAddressInFull()
    {
        Begin(HARROW_GUI_MACHINE);
        SelectAndGo({"Disc 2:0:0:0"}, CHarrowView::PAGE_DRIVE_TESTS);
        QCOMPARE(View()->Selection().Entry(0).kind, static_cast<std::int32_t>(KIND_CHANNEL));
        QVERIFY(StatusLine("Disc 2:0:0:0 KESTREL KX18LVD") != nullptr);
    }

    // Format acts on disks only; the question names them, the block size and what is left alone.
    void formatOnlyLeavesTheTapeAlone()
    {
        Begin(HARROW_GUI_MACHINE);
        SelectAndGo({"Disc 0:2:0", "Tape 0:4:0"}, CHarrowView::PAGE_FORMAT_ONLY);
        g_nextAnswer = IDNO;
        QTest::mouseClick(PageOf<CFormatOnly>()->findChild<QPushButton*>("startFormatOnly"), Qt::LeftButton);
        QCOMPARE(static_cast<int>(g_boxes.size()), 1);
        QVERIFY((g_boxes[0].type & MB_DEFBUTTON2) != 0);
        QVERIFY2(Contains(g_boxes[0].text, "\nDrives:\n    Port:0 Target:2 Lun:0  MERIDIAN MD3600LW serial GEN00002"
                                           "\nNot a disk, left alone:\n    Port:0 Target:4 Lun:0  HARROW SIM TAPE"),
                 g_boxes[0].text.c_str());
        QVERIFY(!View()->State().Busy());
        QVERIFY(!Contains(Log(), "Format Started"));

        g_nextAnswer = IDYES;
        QTest::mouseClick(PageOf<CFormatOnly>()->findChild<QPushButton*>("startFormatOnly"), Qt::LeftButton);
        WaitForEnd();
        const std::string log = Log();
        QVERIFY(Contains(log, "Port:0 Target:4 Lun:0  Format Only skipped: not a disk\n"));
        QVERIFY(!Contains(log, "Target:4 Lun:0  Disc Format Started"));
        QVERIFY(Contains(log, "Port:0 Target:2 Lun:0  Disk Format Completed Successfully\n"));
        QCOMPARE(StatusOf("Tape 0:4:0"), QString("Format Only skipped: not a disk"));
    }

    void formatQuestionsNameSizeAndDrives()
    {
        Begin(HARROW_FWFORMAT_MACHINE);
        SelectAndGo({"Disc 0:0:0 "}, CHarrowView::PAGE_FORMAT);
        PageOf<CFormat>()->findChild<QRadioButton*>("block520")->setChecked(true);
        g_nextAnswer = IDNO;
        QTest::mouseClick(PageOf<CFormat>()->findChild<QPushButton*>("startFormat"), Qt::LeftButton);
        QCOMPARE(static_cast<int>(g_boxes.size()), 1);
        QVERIFY((g_boxes[0].type & MB_DEFBUTTON2) != 0);
        QVERIFY2(Contains(g_boxes[0].text, "\n\nBlock size: 520 bytes\nDrives:\n    Port:0 Target:0 Lun:0  KESTREL "
                                           "KX18LVD serial GOOD0000"),
                 g_boxes[0].text.c_str());
        PageOf<CFormat>()->findChild<QRadioButton*>("capacityOperation")->setChecked(true);
        PageOf<CFormat>()->findChild<QRadioButton*>("typedHighBlock")->setChecked(true);
        PageOf<CFormat>()->findChild<QLineEdit*>("highBlockText")->setText("4000");
        QTest::mouseClick(PageOf<CFormat>()->findChild<QPushButton*>("startFormat"), Qt::LeftButton);
        QVERIFY(Contains(g_boxes.back().text, "\n\nHighest block: 4000\nDrives:\n    Port:0 Target:0 Lun:0  "));
        QVERIFY(!Contains(Log(), "Changing"));
    }

    // The question names the file, its revision, the drives it reaches and those it does not.
    void firmwareQuestionAndRevisionVerdicts()
    {
        Begin(HARROW_FWFORMAT_MACHINE);
        SelectAndGo({"Disc 0:0:0 ", "Disc 0:1:0 "}, CHarrowView::PAGE_FIRMWARE_FILES);
        Download(Firmware("KX18LVD-K200.kst"), IDNO);
        QCOMPARE(static_cast<int>(g_boxes.size()), 1);
        QVERIFY((g_boxes[0].type & MB_DEFBUTTON2) != 0);
        QVERIFY2(Contains(g_boxes[0].text, "(revision K200)\nDrives to download:\n    Port:0 Target:0 Lun:0  KESTREL "
                                           "KX18LVD serial GOOD0000\nNot reached (the file is made for another "
                                           "product):\n    Port:0 Target:1 Lun:0  KESTREL KX09LVD serial OTHR0001"),
                 g_boxes[0].text.c_str());
        SaveBoxShot(g_boxes[0], "safety-firmware-confirmation");
        QVERIFY(!Contains(Log(), "Downloading"));

        // A truncated image leaves the old firmware running: the download failed.
        const std::string good = ReadFile(Firmware("KX18LVD-K200.kst"));
        WriteBytes(m_home / "cut.kst", good.substr(0, good.size() / 2));
        Untick();
        SelectAndGo({"Disc 0:0:0 "}, CHarrowView::PAGE_FIRMWARE_FILES);
        Download((m_home / "cut.kst").string(), IDYES);
        QCOMPARE(StatusOf("Disc 0:0:0 "), QString("Download Failed: the drive reports revision K100, the file carries K200"));
        QVERIFY(Contains(Log(), "Port:0 Target:0 Lun:0  Target FAILED\n"));
        QVERIFY(Progress() < 100);

        // A good image with more behind it than the drive takes: the drive runs K200, so it passed.
        WriteBytes(m_home / "padded.kst", good + std::string(40000, '\0'));
        Download((m_home / "padded.kst").string(), IDYES);
        QVERIFY(Contains(Log(), "Port:0 Target:0 Lun:0  Revision before the download: K100, after: K200\n"));
        QVERIFY(Contains(Log(), "Port:0 Target:0 Lun:0  Target PASSED\n"));
        // The tree and the status display show the new revision; the tick stays.
        QTreeWidgetItem* item = DeviceLine("Disc 0:0:0 ");
        QVERIFY(item->text(0).contains("Version: K200"));
        QCOMPARE(item->checkState(0), Qt::Checked);
        QVERIFY(StatusLine("Disc 0:0:0 ")->text(0).contains("Version: K200"));

        // A ".lod" file names no revision: the log tells before and after.
        WriteBytes(m_home / "image.lod", good.substr(80));
        Untick();
        SelectAndGo({"Disc 0:5:0 "}, CHarrowView::PAGE_FIRMWARE_FILES);
        Download((m_home / "image.lod").string(), IDYES);
        QVERIFY(Contains(Log(), "Port:0 Target:5 Lun:0  Revision before the download: K100, after: K200\n"));
        QVERIFY(Contains(Log(), "Port:0 Target:5 Lun:0  Target PASSED\n"));
    }

    // A FIFO would hang whoever opens it: it is refused when picked and when started.
    void fifoIsRefused()
    {
        Begin(HARROW_FWFORMAT_MACHINE);
        const fs::path fifo = m_home / "pipe.kst";
        QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
        SelectAndGo({"Disc 0:0:0 "}, CHarrowView::PAGE_FIRMWARE_FILES);
        QVERIFY(!PageOf<CFirmwareFiles>()->PickFile(fifo.string()));
        QCOMPARE(g_boxes.back().text, fifo.string() + " is not a regular file and cannot be downloaded.");
        QCOMPARE(PageOf<CFirmwareFiles>()->FileName(), std::string());
        Download(fifo.string(), IDYES);
        QCOMPARE(g_boxes.back().text, fifo.string() + " is not a regular file and cannot be downloaded.");
        QVERIFY(!Contains(Log(), "Downloading"));
    }

    // Closing is refused mid-format with a message; a termination waits for the end.
    void closeWaitsForTheFormat()
    {
        Begin(HARROW_FWFORMAT_MACHINE);
        SelectAndGo({"Disc 0:0:0 "}, CHarrowView::PAGE_FORMAT_ONLY);
        bool visibleAfterClose = false;
        std::size_t boxesAfterClose = 0;
        QTimer::singleShot(100, this, [&] {
            m_app->Frame()->close();
            visibleAfterClose = m_app->Frame()->isVisible();
            boxesAfterClose = g_boxes.size();
            m_app->Frame()->CloseWhenSafe();
        });
        g_nextAnswer = IDYES;
        QTest::mouseClick(PageOf<CFormatOnly>()->findChild<QPushButton*>("startFormatOnly"), Qt::LeftButton);
        QVERIFY(visibleAfterClose);
        QVERIFY(Contains(g_boxes.at(boxesAfterClose - 1).text, "A firmware download or a format is running."));
        QVERIFY(Contains(Log(), " Harrow closes as soon as it has finished.\n"));
        QVERIFY(Contains(Log(), "Disk Format Completed Successfully"));
        QTRY_VERIFY_WITH_TIMEOUT(!m_app->Frame()->isVisible(), kWaitMs);
    }

    void smallFaults()
    {
        Begin(HARROW_GUI_MACHINE);
        // The toolbar's test length follows the page's.
        QToolBar* bar = m_app->Frame()->StandardToolbar();
        QAction* longAction = nullptr;
        for (QAction* action : bar->actions()) {
            if (action->text() == "Long") {
                longAction = action;
            }
        }
        QVERIFY(longAction != nullptr && !longAction->isChecked());
        View()->DriveTestPage()->findChild<QRadioButton*>("longTest")->setChecked(true);
        QVERIFY(longAction->isChecked());

        // About's link opens the log file of this computer, not a web address.
        CHyperLink link("log", "HarrowCLI.log");
        QCOMPARE(link.Url(), QUrl::fromLocalFile(QString::fromStdString((fs::current_path() / "HarrowCLI.log").string())));

        // The log viewer opens at the newest lines.
        View()->GoTo(CHarrowView::PAGE_LOG_FILE);
        auto* text = View()->PageWidget(CHarrowView::PAGE_LOG_FILE)->findChild<QPlainTextEdit*>("logText");
        QCOMPARE(text->textCursor().position(), text->document()->characterCount() - 1);
    }

    // Another home on the same display and machine is the same user's second window.
    void secondInstanceWithAnotherHome()
    {
        Begin(HARROW_GUI_MACHINE);
        QProcess second;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const fs::path other = m_home / "other";
        fs::create_directories(other);
        env.insert("HOME", QString::fromStdString(other.string()));
        env.insert("HARROW_REGISTRY", QString::fromStdString((other / "registry.reg").string()));
        env.insert("XDG_CONFIG_HOME", QString::fromStdString((other / "config").string()));
        second.setProcessEnvironment(env);
        second.setWorkingDirectory(QString::fromStdString(other.string()));
        second.start(QStringLiteral(HARROW_GUI_PATH), {});
        QVERIFY(second.waitForFinished(kWaitMs));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(!fs::exists(other / "HarrowCLI.log"));
    }

    // A folder that cannot be written sends the logs to $XDG_STATE_HOME/harrow/.
    void logFolderFallback()
    {
        m_oldDir = fs::current_path();
        m_home = test_support::MakeTestHome("gui-fallback");
        test_support::UseMachineFile(m_home, ReadFile(HARROW_GUI_MACHINE));
        // A folder its owner may not write; root writes every folder but a process's /proc one.
        const bool root = ::geteuid() == 0;
        const fs::path locked = root ? fs::path("/proc/1") : m_home / "locked";
        if (!root) {
            fs::create_directories(locked);
            ::chmod(locked.c_str(), 0555);
        }
        if (::access(locked.c_str(), W_OK) == 0) {
            QSKIP("no folder here that cannot be written");
        }
        QProcess program;
        program.setWorkingDirectory(QString::fromStdString(locked.string()));
        program.start(QStringLiteral(HARROW_GUI_PATH), {});
        QVERIFY(program.waitForStarted(kWaitMs));
        const fs::path log = m_home / "xdgstate" / "harrow" / "HarrowCLI.log";
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(log) && Contains(ReadFile(log), "Device(s) found during bus scan:"),
                                 kWaitMs);
        program.terminate();
        QVERIFY(program.waitForFinished(kWaitMs));
        QVERIFY(program.readAllStandardError().contains("the current folder cannot be written"));
        QVERIFY(Contains(ReadFile(log), " Exiting Harrow Viraradiza diagnostic\n"));
        if (!root) {
            ::chmod(locked.c_str(), 0755);
        }
    }
};

QTEST_MAIN(SafetyTest)
#include "SafetyTest.moc"

// The report pages on a simulated machine, headless.
#include "GuiFixture.h"

#include "frontend/CommandRoutine.h"
#include "gui/CDumpBlocks.h"
#include "gui/CLogPages.h"
#include "gui/CLogfileView.h"
#include "gui/CSupportRMA.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>

using namespace gui_fixture;

namespace {

// WRITE(10) or READ(10) of blocks from lba, 512 bytes each.
bool Transfer(const DeviceRecord& drive, bool write, std::uint32_t lba, std::vector<std::uint8_t>& data)
{
    const auto count = static_cast<std::uint16_t>(data.size() / 512);
    const std::uint8_t cdb[10] = {static_cast<std::uint8_t>(write ? 0x2A : 0x28), 0, static_cast<std::uint8_t>(lba >> 24),
                                  static_cast<std::uint8_t>(lba >> 16), static_cast<std::uint8_t>(lba >> 8),
                                  static_cast<std::uint8_t>(lba), 0, static_cast<std::uint8_t>(count >> 8),
                                  static_cast<std::uint8_t>(count), 0};
    return SendCdb(drive, cdb, sizeof cdb, data.data(), static_cast<std::uint32_t>(data.size()),
                   write ? DIRECTION_OUT : DIRECTION_IN, 30)
        .Good();
}

}  // namespace

class ReportsTest : public QObject, private GuiFixture {
    Q_OBJECT

    static constexpr int LOG_PAGES = CHarrowView::PAGE_LOG_PAGES;
    static constexpr int DUMP = CHarrowView::PAGE_DUMP_BLOCKS;

    CLogPages* LogPage() { return static_cast<CLogPages*>(View()->PageWidget(LOG_PAGES)); }
    QString Field(const char* name) { return LogPage()->findChild<QLabel*>(name)->text(); }

private slots:
    void init() { Begin(HARROW_PREFS_MACHINE); }
    void cleanup() { End(); }

    void inventoryOfMakerAndForeignDrives()
    {
        SelectAndGo({"Disc 0:0:0", "Disc 0:2:0", "Disc 0:3:0"}, LOG_PAGES);
        QVERIFY(LogPage()->WriteInventoryReport(QString::fromStdString((RunDir() / "inventory.csv").string())));
        QCOMPARE(ReadFile(RunDir() / "inventory.csv"), ReadFile(HARROW_REPORTS_EXPECTED "/inventory.csv"));
        // The drive without self test has no log page 10h: its Last DST stays out, the failure is logged.
        QVERIFY(Contains(Log(), "Port:0 Target:3 Lun:0  Log Sense Failed: 05 / 24 / 00\n"));
    }

    void logPageFields()
    {
        SelectAndGo({"Disc 0:0:0"}, LOG_PAGES);
        auto* supported = LogPage()->findChild<QListWidget*>("supportedPages");
        QStringList codes;
        for (int i = 0; i < supported->count(); ++i) {
            codes << supported->item(i)->text();
        }
        QCOMPARE(codes, QStringList({"0x02   Write Error Counter", "0x03   Read Error Counter",
                                     "0x05   Verify Error Counter", "0x06   Non-Medium Error", "0x0D   Temperature",
                                     "0x0E   Start-Stop Cycle Counter", "0x10   Self-Test Results",
                                     "0x15   Other Page", "0x2F   Other Page", "0x3E   Factory Log"}));
        QCOMPARE(Field("currentTemperature"), QString("35 C"));
        QCOMPARE(Field("referenceTemperature"), QString("60 C"));
        QCOMPARE(Field("powerOnTime"), QString("1234:00"));
        auto* selfTests = LogPage()->findChild<QListWidget*>("selfTestResults");
        QCOMPARE(selfTests->item(0)->text(), QString("DST has never been performed"));
        QVERIFY(Contains(Log(), "Port:0 Target:0 Lun:0  Current Drive Temperature = 35 C\n"));
        SaveShot("reports-log-pages");

        // No reading: the field stays empty and nothing is logged.
        View()->GoTo(CHarrowView::PAGE_DEVICES);
        View()->DevicePage()->Tree()->topLevelItem(0)->child(0)->setCheckState(0, Qt::Unchecked);
        SelectAndGo({"Disc 0:3:0"}, LOG_PAGES);
        QCOMPARE(Field("currentTemperature"), QString(""));
        QCOMPARE(Field("referenceTemperature"), QString("60 C"));
        QVERIFY(!Contains(Log(), "Target:3 Lun:0  Current Drive Temperature"));
    }

    void grownDefectReports()
    {
        SelectAndGo({"Disc 0:0:0"}, LOG_PAGES);
        LogPage()->WriteDefectReport();
        const std::string none = ReadFile(RunDir() / "PRF00000.log");
        QVERIFY2(Contains(none, "  Current Drive Temperature = 35 C\nNo grown defects\n"), none.c_str());
        QCOMPARE(g_boxes.back().text, "The grown defect report was appended to PRF00000.log.");

        // Three blocks reassigned on a drive that knows only READ DEFECT DATA(10) and has no temperature.
        View()->GoTo(CHarrowView::PAGE_DEVICES);
        View()->DevicePage()->Tree()->topLevelItem(0)->child(0)->setCheckState(0, Qt::Unchecked);
        SelectAndGo({"Disc 0:3:0"}, LOG_PAGES);
        std::vector<std::uint8_t> list{0, 0, 0, 12, 0, 0, 0, 100, 0, 0, 0x07, 0xD0, 0, 0, 0x13, 0x88};
        const std::uint8_t reassign[6] = {0x07, 0, 0, 0, 0, 0};
        QVERIFY(SendCdb(View()->Selection().Entry(0), reassign, 6, list.data(), 16, DIRECTION_OUT, 30).Good());
        LogPage()->WriteDefectReport();
        LogPage()->WriteDefectReport();
        const std::string three = ReadFile(RunDir() / "OLD00003.log");
        const std::string table = "#     C:H:BFI             C:H:S\n"
                                  "1     0:0:51200           0:0:100             \n"
                                  "2     0:5:0               0:5:0               \n"
                                  "3     1:4:102400          1:4:200             \n";
        // Appended twice, each with a first line of date and time only (the clock may tick between).
        const std::size_t report = 21 + table.size();
        QCOMPARE(three.size(), 2 * report);
        for (std::size_t at : {std::size_t{0}, report}) {
            QCOMPARE(three.substr(at + 21, table.size()), table);
            QCOMPARE(three[at + 11], ' ');
            QCOMPARE(three[at + 20], '\n');
        }
    }

    void dumpOf300Blocks()
    {
        SelectAndGo({"Disc 0:0:0"}, DUMP);
        const DeviceRecord& drive = View()->Selection().Entry(0);
        std::vector<std::uint8_t> pattern(128 * 512);
        for (std::uint32_t chunk = 0; chunk < 3; ++chunk) {
            for (std::size_t i = 0; i < pattern.size(); ++i) {
                pattern[i] = static_cast<std::uint8_t>(i * 7 + chunk * 13 + i / 512);
            }
            QVERIFY(Transfer(drive, true, chunk * 128, pattern));
        }
        auto* page = static_cast<CDumpBlocks*>(View()->PageWidget(DUMP));
        const std::filesystem::path file = RunDir() / "dump.bin";
        page->findChild<QLineEdit*>("dumpFile")->setText(QString::fromStdString(file.string()));
        page->findChild<QLineEdit*>("endBlock")->setText("0");
        QVERIFY(!page->Dump());
        QVERIFY(!std::filesystem::exists(file));

        page->findChild<QLineEdit*>("endBlock")->setText("300");
        SaveShot("reports-dump-blocks");
        g_boxes.clear();
        g_nextAnswer = IDNO;
        QVERIFY(!page->Dump());
        QVERIFY(!std::filesystem::exists(file));
        g_nextAnswer = IDYES;
        QVERIFY(page->Dump());
        QVERIFY(Contains(g_boxes.front().text, "196608 bytes will be written to "));
        QCOMPARE(std::filesystem::file_size(file), std::uintmax_t{3 * 128 * 512});
        std::vector<std::uint8_t> read(3 * 128 * 512);
        QVERIFY(Transfer(drive, false, 0, read));
        QVERIFY(ReadFile(file) == std::string(read.begin(), read.end()));
    }

    // A 20 TB drive is read past 2^32 with READ(16).
    void dumpPastTwoTebibytes()
    {
        End();
        Begin(HARROW_TODAY_MACHINE);
        SelectAndGo({"Disc 0:0:0"}, DUMP);
        const DeviceRecord& large = View()->Selection().Entry(0);
        constexpr std::uint64_t kStart = 0xFFFFFFFEULL;
        std::vector<std::uint8_t> pattern(4 * 512);
        for (std::size_t i = 0; i < pattern.size(); ++i) {
            pattern[i] = static_cast<std::uint8_t>(i * 11 + i / 512);
        }
        QVERIFY(SendCdb(large, cdb::Write16(kStart, 4), pattern.data(), 4 * 512, 30).Good());
        auto* page = static_cast<CDumpBlocks*>(View()->PageWidget(DUMP));
        const std::filesystem::path file = RunDir() / "large.bin";
        page->findChild<QLineEdit*>("dumpFile")->setText(QString::fromStdString(file.string()));
        page->findChild<QLineEdit*>("startBlock")->setText(QString::number(kStart));
        page->findChild<QLineEdit*>("endBlock")->setText(QString::number(kStart + 4));
        g_boxes.clear();
        QVERIFY(page->Dump());
        QCOMPARE(std::filesystem::file_size(file), std::uintmax_t{128 * 512});
        QVERIFY(ReadFile(file).substr(0, pattern.size()) == std::string(pattern.begin(), pattern.end()));
    }

    void dumpOfFourKibibyteBlocks()
    {
        End();
        Begin(HARROW_TODAY_MACHINE);
        SelectAndGo({"Disc 0:1:0"}, DUMP);
        auto* page = static_cast<CDumpBlocks*>(View()->PageWidget(DUMP));
        const std::filesystem::path small = RunDir() / "4k.bin";
        page->findChild<QLineEdit*>("dumpFile")->setText(QString::fromStdString(small.string()));
        page->findChild<QLineEdit*>("startBlock")->setText("0");
        page->findChild<QLineEdit*>("endBlock")->setText("10");
        g_boxes.clear();
        QVERIFY(page->Dump());
        // 128 blocks of 4096 bytes, read in commands of the 32 the port carries (128 KiB; the
        // Block Limits page allows 64): a longer READ is refused by the port.
        QVERIFY(Contains(g_boxes.front().text, "524288 bytes will be written to "));
        QCOMPARE(std::filesystem::file_size(small), std::uintmax_t{128 * 4096});
    }

    void supportPagesAndLogView()
    {
        SelectAndGo({"Disc 0:0:0"}, CHarrowView::PAGE_SUPPORT);
        SaveShot("support");
        View()->GoTo(CHarrowView::PAGE_SUPPORT_RMA);
        auto* rma = static_cast<CSupportRMA*>(View()->PageWidget(CHarrowView::PAGE_SUPPORT_RMA));
        rma->findChild<QLineEdit*>("contactName")->setText("Ann Example");
        rma->findChild<QLineEdit*>("contactPhone")->setText("555 0100");
        rma->findChild<QLineEdit*>("contactEmail")->setText("ann@example.org");
        SaveShot("support-rma");
        QVERIFY(rma->WriteForm());
        QVERIFY(rma->WriteForm());
        const std::string forms = ReadFile(RunDir() / "rmalog.txt");
        const std::string form = "Product = KX18LVD              Serial Number = PRF00000  \nContact: Ann Example\n"
                                 "Phone: 555 0100\nEmail: ann@example.org\n\nSee the Harrow Viraradiza.HLP file";
        QVERIFY(forms.find(form) != forms.rfind(form));
        QCOMPARE(forms.substr(forms.size() - 60), std::string("\tPlace the drive in approved packaging as soon as "
                                                                "possible\n\n"));

        View()->GoTo(CHarrowView::PAGE_LOG_PAGES);
        Settle();
        View()->GoTo(CHarrowView::PAGE_LOG_FILE);
        auto* view = static_cast<CLogfileView*>(View()->PageWidget(CHarrowView::PAGE_LOG_FILE));
        auto* text = view->findChild<QPlainTextEdit*>("logText");
        QVERIFY(text->isReadOnly());
        QCOMPARE(view->Shown(), QString("HarrowCLI.log"));
        QVERIFY(text->toPlainText().contains("Harrow Viraradiza diagnostic"));
        SaveShot("log-file-view");
        g_boxes.clear();
        QVERIFY(!view->Open("missing.log"));
        QCOMPARE(static_cast<int>(g_boxes.size()), 1);
        QCOMPARE(view->Shown(), QString("HarrowCLI.log"));
        QVERIFY(view->Open("PRF00000.txt"));
        QVERIFY(text->toPlainText().contains("Current Drive Temperature = 35 C"));
        QVERIFY(!text->toPlainText().contains("Harrow Viraradiza diagnostic"));
    }
};

QTEST_MAIN(ReportsTest)
#include "ReportsTest.moc"

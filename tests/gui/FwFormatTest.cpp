// The firmware download and format pages of Harrow, driven headless over a
// simulated machine whose drives reset, stay not ready or fail their format.
#include "GuiFixture.h"

#include "frontend/DeviceQueries.h"
#include "gui/CFirmwareDnld.h"
#include "gui/CFirmwareFiles.h"
#include "gui/CFormat.h"
#include "gui/CFormatOnly.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <filesystem>
#include <fstream>

using namespace gui_fixture;

namespace {

DeviceRecord Drive(int target)
{
    DeviceRecord record;
    record.hostAdapter = 0;
    record.target = target;
    record.lun = 0;
    return record;
}

std::string Revision(int target)
{
    DeviceIdentity identity;
    ReadIdentity(Drive(target), identity);
    return identity.revision;
}

std::pair<std::uint64_t, std::uint32_t> Capacity(int target)
{
    std::uint64_t lastLba = 0;
    std::uint32_t blockLength = 0;
    ReadCapacity(Drive(target), lastLba, blockLength);
    return {lastLba, blockLength};
}

}  // namespace

class FwFormatTest : public QObject, GuiFixture {
    Q_OBJECT

private:
    // Times the drive's line ends with text, after the stamp and address.
    int Lines(int target, const std::string& text)
    {
        const std::string log = Log();
        const std::string line = "Port:0 Target:" + std::to_string(target) + " Lun:0  " + text + "\n";
        int count = 0;
        for (std::size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) {
            ++count;
        }
        return count;
    }

    // A simulated drive writes its state file first when something changes it.
    bool Changed(int target)
    {
        return std::filesystem::exists(m_home / "state" / "gui-fwformat" /
                                       ("p0b0t" + std::to_string(target) + "l0") / "state.json");
    }

    QString StatusOf(int target) { return GuiFixture::StatusOf(QString("Disc 0:%1:0 ").arg(target)); }

    void Select(std::initializer_list<int> targets, int page)
    {
        View()->GoTo(CHarrowView::PAGE_DEVICES);
        for (QTreeWidgetItemIterator it(View()->DevicePage()->Tree()); *it != nullptr; ++it) {
            (*it)->setCheckState(0, Qt::Unchecked);
            for (int target : targets) {
                if ((*it)->text(0).startsWith(QString("Disc 0:%1:0 ").arg(target))) {
                    (*it)->setCheckState(0, Qt::Checked);
                }
            }
        }
        View()->GoTo(page);
    }

    template <class Page>
    Page* PageOf() { return View()->findChild<Page*>(); }

    void Download(const std::string& file, const QString& shots)
    {
        View()->GoTo(CHarrowView::PAGE_FIRMWARE_FILES);
        PageOf<CFirmwareFiles>()->SetFileName(file.find('/') == std::string::npos
                                                  ? std::string(HARROW_DOCS) + "/firmware/" + file
                                                  : file);
        SaveShot(shots + "-file");
        View()->GoTo(CHarrowView::PAGE_FIRMWARE_DOWNLOAD);
        SaveShot(shots + "-before");
        QTimer::singleShot(50, this, [this, shots] { SaveShot(shots + "-during"); });
        QTest::mouseClick(PageOf<CFirmwareDnld>()->findChild<QPushButton*>("startDownload"), Qt::LeftButton);
        QVERIFY(!View()->State().Busy());
        SaveShot(shots + "-after");
    }

    void Check(const char* name) { PageOf<CFormat>()->findChild<QRadioButton*>(name)->setChecked(true); }
    void Type(const char* name, const char* text) { PageOf<CFormat>()->findChild<QLineEdit*>(name)->setText(text); }
    void StartFormat() { QTest::mouseClick(PageOf<CFormat>()->findChild<QPushButton*>("startFormat"), Qt::LeftButton); }

private slots:
    void init() { Begin(HARROW_FWFORMAT_MACHINE); }
    void cleanup() { End(); }

    // One good drive, one of another product, one that resets during its
    // segmented download and is sent the chunk again; the fourth is not selected.
    void downloadsToThreeDrivesAtOnce()
    {
        Select({0, 1, 2}, CHarrowView::PAGE_FIRMWARE_FILES);
        Download("KX18LVD-K200.kst", "firmware");
        QCOMPARE(g_boxes.size(), std::size_t{1});  // the question, and nothing before it
        QCOMPARE(Lines(1, "Download File - DOES NOT MATCH PRODUCT!"), 1);
        QCOMPARE(Lines(1, "Downloading"), 0);
        for (int target : {0, 2}) {
            QCOMPARE(Lines(target, "Downloading"), 1);
            QCOMPARE(Lines(target, "Downloading - DO NOT INTERRUPT!"), 1);
            QCOMPARE(Lines(target, "Re-Initializing Drive - DO NOT INTERRUPT!"), 1);
            QCOMPARE(Lines(target, "Download - Complete"), 1);
            QCOMPARE(Lines(target, "Target PASSED"), 1);
            QCOMPARE(Lines(target, "PreDownload Mode Page Settings :"), 1);
            QCOMPARE(Lines(target, "PostDownload Mode Page Settings :"), 1);
            QCOMPARE(StatusOf(target), QString("Download - Complete"));
            QCOMPARE(Revision(target), std::string("K200"));
        }
        QCOMPARE(Lines(0, "Vendor: KESTREL , Product: KX18LVD         , Version: K100"), 1);
        QCOMPARE(Lines(0, "Vendor: KESTREL , Product: KX18LVD         , Version: K200"), 1);
        QCOMPARE(Lines(2, "Vendor: IBM     , Product: KX18LVD         , Version: K200"), 1);
        QVERIFY(Log().find("PostDownload Inquiry and Mode Pages:\n") != std::string::npos);
        QCOMPARE(StatusOf(1), QString("Download File - DOES NOT MATCH PRODUCT!"));
        QCOMPARE(Revision(1), std::string("K100"));
        QCOMPARE(Revision(5), std::string("K100"));
        QCOMPARE(Lines(5, "Downloading"), 0);
        QVERIFY(Changed(0));
        QVERIFY(!Changed(5));
        View()->GoTo(CHarrowView::PAGE_FIRMWARE_FAQ);
        SaveShot("firmware-faq");
    }

    // A broken image keeps the old firmware, a drive may refuse any download, and
    // one that stays not ready through seven rounds fails. Only Yes starts anything.
    void brokenImageAndDriveThatStaysNotReady()
    {
        Select({3}, CHarrowView::PAGE_FIRMWARE_FILES);
        g_nextAnswer = IDNO;
        Download("KX18LVD-K200.kst", "firmware-refused");
        QVERIFY(Log().find("Downloading") == std::string::npos);
        g_nextAnswer = IDYES;
        Download("KX18LVD-K200.kst", "firmware-not-ready");
        QCOMPARE(Lines(3, "Download - Failed"), 1);
        QCOMPARE(Lines(3, "Target FAILED"), 1);

        Select({0, 4}, CHarrowView::PAGE_FIRMWARE_FILES);
        Download("KX18LVD-K200-broken.kst", "firmware-broken");
        QCOMPARE(Lines(4, "Download Failed 05 / 24 / 00"), 1);
        QCOMPARE(Lines(0, "Download Failed 05 / 26 / 00"), 1);
        QCOMPARE(Lines(0, "Target FAILED"), 1);
        QCOMPARE(Lines(0, "Upgrade failed please contact your technical support representative.  Click the "
                          "utility support button for contact information."),
                 1);
        QCOMPARE(Revision(0), std::string("K100"));

        Download("notes.txt", "firmware-not-a-file");
        QCOMPARE(g_boxes.back().text, std::string("Please select a firmware file to download!"));

        // A headerless image in upper case is sent from its first byte without the product
        // check: the drive of another product gets it too, and refuses it itself.
        const std::string image = ReadFile(std::string(HARROW_DOCS) + "/firmware/KX18LVD-K200.kst").substr(80);
        std::ofstream((m_home / "IMAGE.LOD").string(), std::ios::binary) << image;
        Select({0, 1}, CHarrowView::PAGE_FIRMWARE_FILES);
        Download((m_home / "IMAGE.LOD").string(), "firmware-lod");
        QCOMPARE(Revision(0), std::string("K200"));
        QCOMPARE(Lines(1, "Downloading - DO NOT INTERRUPT!"), 1);
        QCOMPARE(Lines(1, "Download Failed 05 / 26 / 00"), 1);  // the image inside names KX18LVD
    }

    void formatOutcomeRows()
    {
        struct Row {
            int result, host, senseLength, key, asc, ascq, fru;
            bool formatOnly;
            const char* log;
            const char* status;
        };
        const Row rows[] = {
            {1, 0, 18, 0, 0, 0, 0, false, "Disk Format Completed Successfully", "Format Completed at T"},
            {1, 0, 8, 3, 0x31, 0, 0, false, "Disk Format Completed Successfully", "Format Completed at T"},
            {1, 0, 18, 3, 0x31, 0, 0, false, "Disk Format Failed 03 / 31 / 00", "Format Failed 03 / 31 / 00 at T"},
            {1, 0, 18, 3, 0x31, 0, 7, false, "Disk Format Failed 03 / 31 / 00 FRU Code 07",
             "Format Failed 03 / 31 / 00  FRU Code 07 at T"},
            {4, 0, 8, 3, 0x31, 0, 0, false, " Disc Format Failed", "Format Failed at T"},
            {4, 0, 18, 4, 0x44, 0, 0, false, "Disk Format Failed 04 / 44 / 00", "Format Failed 04 / 44 / 00 at T"},
            {1, 0x11, 18, 4, 0x44, 0, 9, false, "Disk Format Failed 04 / 44 / 00 FRU Code 09",
             "Format Failed 04 / 44 / 00 FRU Code 09 at T"},
            {4, 0, 8, 5, 0x24, 0, 0, true, "Disk Format Failed 05 / 24 / 00 FRU Code 00",
             "Format Failed 05 / 24 / 00 FRU Code 00 at T"},
        };
        for (const Row& row : rows) {
            FormatJob job;
            job.commandResult = static_cast<std::uint8_t>(row.result);
            job.hostStatus = static_cast<std::uint8_t>(row.host);
            job.senseLength = row.senseLength;
            job.sense[2] = static_cast<std::uint8_t>(row.key);
            job.sense[12] = static_cast<std::uint8_t>(row.asc);
            job.sense[13] = static_cast<std::uint8_t>(row.ascq);
            job.sense[14] = static_cast<std::uint8_t>(row.fru);
            const FormatOutcome outcome = DescribeFormatOutcome(job, row.formatOnly, "T");
            QCOMPARE(outcome.log, std::string(row.log));
            QCOMPARE(outcome.status, std::string(row.status));
            const bool passed = std::string(row.log).find("Success") != std::string::npos;
            QCOMPARE(outcome.state, passed ? TEST_PASSED : TEST_FAILED);
        }
    }

    // Whether the sense reaches key, ASC and ASCQ depends on its format: byte 13
    // in fixed (SPC-4 4.5.3), byte 3 in descriptor format (SPC-4 4.5.2.1).
    void formatOutcomeReadsEitherSenseFormat()
    {
        struct Row {
            std::uint8_t responseCode;
            int result, senseLength;
            const char* log;
        };
        const Row rows[] = {
            {0x70, 1, 13, "Disk Format Completed Successfully"},
            {0x70, 1, 14, "Disk Format Failed 03 / 31 / 01"},
            {0x72, 1, 3, "Disk Format Completed Successfully"},
            {0x72, 1, 4, "Disk Format Failed 03 / 31 / 01"},
            {0x73, 1, 8, "Disk Format Failed 03 / 31 / 01"},
            {0x73, 4, 8, "Disk Format Failed 03 / 31 / 01"},
            {0x72, 4, 3, " Disc Format Failed"},
            {0x72, 1, 300, "Disk Format Failed 03 / 31 / 01"},
            {0x72, 1, -1, "Disk Format Completed Successfully"},
        };
        for (const Row& row : rows) {
            FormatJob job;
            job.commandResult = static_cast<std::uint8_t>(row.result);
            job.senseLength = row.senseLength;
            job.sense[0] = row.responseCode;
            const bool descriptor = row.responseCode >= 0x72;
            job.sense[descriptor ? 1 : 2] = 0x03;
            job.sense[descriptor ? 2 : 12] = 0x31;
            job.sense[descriptor ? 3 : 13] = 0x01;
            const FormatOutcome outcome = DescribeFormatOutcome(job, false, "T");
            QVERIFY2(outcome.log == row.log, (std::to_string(row.responseCode) + " " + std::to_string(row.senseLength)
                                              + ": " + outcome.log).c_str());
        }
    }

    // A drive in descriptor-sense mode whose format fails: 8 bytes of sense, no descriptor.
    void formatFailureInDescriptorSenseIsAFailure()
    {
        Select({4, 6}, CHarrowView::PAGE_FORMAT);
        StartFormat();
        for (int target : {4, 6}) {
            QCOMPARE(Lines(target, "Disk Format Failed 03 / 31 / 01"), 1);
            QVERIFY(StatusOf(target).startsWith("Format Failed 03 / 31 / 01 at "));
        }
        QCOMPARE(Lines(6, "Disk Format Completed Successfully"), 0);
    }

    void validationRefusesBeforeAnythingIsSent()
    {
        Select({0}, CHarrowView::PAGE_FORMAT);
        QCOMPARE(PageOf<CFormat>()->findChild<QLineEdit*>("highBlockText")->text(), QString("8191"));
        Check("blockOther");
        for (const char* bad : {"5x2", "0", "+", "-512", "16777216"}) {
            Type("blockSizeText", bad);
            StartFormat();
            QCOMPARE(g_boxes.back().text, std::string("The block size must be a whole number greater than 0, digits only."));
        }
        Type("blockSizeText", "+520");
        g_nextAnswer = IDNO;
        const std::size_t before = g_boxes.size();
        StartFormat();
        QCOMPARE(g_boxes.size(), before + 1);  // "+520" passed: only the question came
        Check("capacityOperation");
        Check("typedHighBlock");
        Type("highBlockText", "0");
        StartFormat();
        QCOMPARE(g_boxes.back().text, std::string("The highest block must be a whole number of at least 1, digits only."));
        Type("highBlockText", "4095");
        StartFormat();
        QCOMPARE(Capacity(0), (std::pair<std::uint64_t, std::uint32_t>{8191, 512}));
        QVERIFY(Log().find("Chang") == std::string::npos);
        QVERIFY(!Changed(0));
    }

    // Block size 520 and a format on three drives at once, one failing with sense.
    void formatsDrivesAtOnce()
    {
        Select({0, 3, 4}, CHarrowView::PAGE_FORMAT);
        SaveShot("format-before");
        Check("block520");
        std::vector<int> progress;
        connect(View()->findChild<CFormat*>()->findChild<FormatRun*>(), &FormatRun::Changed, this,
                [&] { progress.push_back(View()->State().progressPosition.load()); });
        bool closed = true;
        QTimer::singleShot(500, this, [this, &closed] {
            SaveShot("format-during");
            closed = m_app->Frame()->close();
        });
        StartFormat();
        SaveShot("format-after");
        QVERIFY(!closed);
        for (int target : {0, 3}) {
            QCOMPARE(Lines(target, "Changing drive blocksize to: 520"), 1);
            QCOMPARE(Lines(target, "Change Blocksize Passed"), 1);
            QCOMPARE(Lines(target, "Disk Format Completed Successfully"), 1);
            QVERIFY(StatusOf(target).startsWith("Format Completed at "));
            QCOMPARE(Capacity(target).second, 520u);
        }
        QCOMPARE(Lines(4, "Disk Format Failed 03 / 31 / 01"), 1);
        QVERIFY(StatusOf(4).startsWith("Format Failed 03 / 31 / 01 at "));
        QVERIFY(std::any_of(progress.begin(), progress.end(), [](int p) { return p > 0 && p < 100; }));
        // One drive's format failed: the bar does not claim the run went all the way.
        QCOMPARE(progress.back(), 99);
        QVERIFY(std::is_sorted(progress.begin() + 1, progress.end() - 1));
        QVERIFY(PageOf<CFormat>()->findChild<QRadioButton*>("block520")->isChecked());
        QCOMPARE(Capacity(5).second, 512u);

        Select({3}, CHarrowView::PAGE_FORMAT_ONLY);
        SaveShot("format-only-before");
        QTimer::singleShot(200, this, [this] { SaveShot("format-only-during"); });
        QTest::mouseClick(PageOf<CFormatOnly>()->findChild<QPushButton*>("startFormatOnly"), Qt::LeftButton);
        SaveShot("format-only-after");
        QCOMPARE(Lines(3, "Disk Format Completed Successfully"), 2);
        QCOMPARE(Capacity(3).second, 520u);
    }

    void capacityToTypedHighBlockAndBack()
    {
        Select({0, 3}, CHarrowView::PAGE_FORMAT);
        Check("capacityOperation");
        Check("typedHighBlock");
        Type("highBlockText", "4095");
        StartFormat();
        SaveShot("capacity-after");
        for (int target : {0, 3}) {
            QCOMPARE(Lines(target, "Changing drive capacity to: 4095 highblock"), 1);
            QCOMPARE(Lines(target, "Disc Change Capacity Passed"), 1);
            QCOMPARE(StatusOf(target), QString("Changing Capacity to 4095 highblock Passed"));
            QCOMPARE(Capacity(target).first, 4095u);
        }
        Check("factoryMaximum");
        StartFormat();
        QCOMPARE(Lines(0, "Changing drive capacity to: Factory Maximum"), 1);
        QCOMPARE(StatusOf(0), QString("Changing Capacity to Factory Maximum number of blocks Passed"));
        QCOMPARE(Capacity(0).first, 8191u);
        QCOMPARE(Capacity(5).first, 8191u);
        QVERIFY(!Changed(5));
    }
};

QTEST_MAIN(FwFormatTest)
#include "FwFormatTest.moc"

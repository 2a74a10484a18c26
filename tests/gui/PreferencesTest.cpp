// The drive-preference pages on a simulated machine, headless.
#include "GuiFixture.h"

#include "gui/CSpecialModePage.h"
#include "gui/CStandardModePage.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

using namespace gui_fixture;

class PreferencesTest : public QObject, private GuiFixture {
    Q_OBJECT

    QWidget* Page(int page) { return View()->PageWidget(page); }
    QRadioButton* Radio(int page, const char* name) { return Page(page)->findChild<QRadioButton*>(name); }
    void Click(int page, const char* name) { QTest::mouseClick(Page(page)->findChild<QPushButton*>(name), Qt::LeftButton); }

    static constexpr int kStandard = CHarrowView::PAGE_STANDARD_PREFERENCES;
    static constexpr int kSpecial = CHarrowView::PAGE_SPECIAL_PREFERENCES;

private slots:
    void init() { Begin(HARROW_PREFS_MACHINE); }
    void cleanup() { End(); }

    void standardMixedSelection()
    {
        SelectAndGo({"Disc 0:0:0", "Disc 0:1:0", "Disc 0:2:0"}, kStandard);
        // Preset from the first drive: PM off, performance seek, write cache on, read cache on.
        QVERIFY(Radio(kStandard, "pmOff")->isEnabled() && Radio(kStandard, "pmOff")->isChecked());
        QVERIFY(Radio(kStandard, "jitPerformance")->isChecked());
        QVERIFY(Radio(kStandard, "wceOn")->isChecked());
        QVERIFY(Radio(kStandard, "rcdOff")->isChecked());
        Radio(kStandard, "pmOn")->setChecked(true);
        Radio(kStandard, "jitLevel1")->setChecked(true);
        Radio(kStandard, "wceOff")->setChecked(true);
        SaveShot("prefs-standard");
        Click(kStandard, "applyButton");
        QVERIFY(View()->State().Busy());
        WaitForEnd();

        const std::string log = Log();
        for (const char* line :
             {"Port:0 Target:0 Lun:0  Disc Setting PM On Passed\n",
              "Port:0 Target:0 Lun:0  Disc Setting JIT Power and Acoustic Level 1 Passed\n",
              "Port:0 Target:0 Lun:0  Disc Setting WCE Off Passed\n", "Port:0 Target:0 Lun:0  Disc Setting RCD Off Passed\n",
              // The PM bit of this drive is fixed: the drive refuses the change, the rest passes.
              "Port:0 Target:1 Lun:0  Disc Setting PM On Failed 05 / 26 / 00\n",
              "Port:0 Target:1 Lun:0  Disc Setting WCE Off Passed\n",
              "Port:0 Target:2 Lun:0  Disc Setting WCE Off Passed\n", "Port:0 Target:2 Lun:0  Disc Setting RCD Off Passed\n",
              " Setting Standard Drive Preferences\n", " Done Setting Standard Drive Preferences\n"}) {
            QVERIFY2(Contains(log, line), line);
        }
        // The other maker's disk gets only the caching page.
        QVERIFY(!Contains(log, "Target:2 Lun:0  Disc Setting PM"));
        QVERIFY(!Contains(log, "Target:2 Lun:0  Disc Setting JIT"));
        QCOMPARE(StatusOf("Disc 0:0:0"), QString("Settings Complete"));
        QCOMPARE(StatusOf("Disc 0:1:0"), QString("One or more of the settings Failed"));
        QCOMPARE(StatusOf("Disc 0:2:0"), QString("Settings Complete"));
        SaveShot("prefs-standard-applied");

        // The drive keeps what it was given.
        View()->GoTo(kSpecial);
        View()->GoTo(kStandard);
        QVERIFY(Radio(kStandard, "pmOn")->isChecked());
        QVERIFY(Radio(kStandard, "jitLevel1")->isChecked());
        QVERIFY(Radio(kStandard, "wceOff")->isChecked());
    }

    void standardButtonsFollowTheFirstDrive()
    {
        SelectAndGo({"Disc 0:1:0"}, kStandard);
        QVERIFY(!Radio(kStandard, "pmOn")->isEnabled());
        QVERIFY(!Radio(kStandard, "pmOff")->isEnabled());
        QVERIFY(Radio(kStandard, "jitPerformance")->isEnabled());
        QVERIFY(Radio(kStandard, "wceOn")->isEnabled());
        View()->GoTo(CHarrowView::PAGE_DEVICES);
        View()->DevicePage()->Tree()->topLevelItem(0)->child(1)->setCheckState(0, Qt::Unchecked);
        SelectAndGo({"Disc 0:2:0"}, kStandard);
        QVERIFY(!Radio(kStandard, "pmOn")->isEnabled());
        QVERIFY(!Radio(kStandard, "jitLevel2")->isEnabled());
        QVERIFY(Radio(kStandard, "rcdOn")->isEnabled());
    }

    void standardAbortBetweenDrives()
    {
        SelectAndGo({"Disc 0:0:0", "Disc 0:2:0"}, kStandard);
        Click(kStandard, "applyButton");
        QTest::mouseClick(View()->Status()->findChild<QPushButton*>("statusAbort"), Qt::LeftButton);
        WaitForEnd();
        const std::string log = Log();
        QVERIFY(Contains(log, " Aborting Standard Drive Preferences\n"));
        QVERIFY(!Contains(log, "Done Setting Standard Drive Preferences"));
        QVERIFY(Contains(log, "Target:0 Lun:0  Disc Setting RCD Off Passed"));
        QVERIFY(!Contains(log, "Target:2 Lun:0  Disc"));
        QCOMPARE(StatusOf("Disc 0:0:0"), QString("Settings Complete"));
        QCOMPARE(StatusOf("Disc 0:2:0"), QString(""));
    }

    // A run that ends early leaves no line telling of the run before it.
    void abortedRunClearsEarlierStatus()
    {
        SelectAndGo({"Disc 0:0:0", "Disc 0:2:0"}, kStandard);
        Click(kStandard, "applyButton");
        WaitForEnd();
        QCOMPARE(StatusOf("Disc 0:2:0"), QString("Settings Complete"));
        Click(kStandard, "applyButton");
        QTest::mouseClick(View()->Status()->findChild<QPushButton*>("statusAbort"), Qt::LeftButton);
        WaitForEnd();
        QCOMPARE(StatusOf("Disc 0:0:0"), QString("Settings Complete"));
        QCOMPARE(StatusOf("Disc 0:2:0"), QString(""));
    }

    void specialPreferences()
    {
        SelectAndGo({"Disc 0:0:0"}, kSpecial);
        auto* segments = Page(kSpecial)->findChild<QLineEdit*>("segmentsField");
        QVERIFY(Radio(kSpecial, "awreOn")->isChecked() && Radio(kSpecial, "awreOn")->isEnabled());
        QVERIFY(Radio(kSpecial, "arreOn")->isChecked());
        QVERIFY(Radio(kSpecial, "dexcptOff")->isChecked() && Radio(kSpecial, "dexcptOff")->isEnabled());
        QCOMPARE(segments->text(), QString("16"));
        // A parallel SCSI adapter: no loop options.
        QVERIFY(!Radio(kSpecial, "dlmOn")->isEnabled());
        QVERIFY(!Radio(kSpecial, "dtoliOff")->isEnabled());
        SaveShot("prefs-special");

        for (const char* refused : {"0", "256", "many"}) {
            segments->setText(refused);
            g_boxes.clear();
            Click(kSpecial, "applyButton");
            QCOMPARE(static_cast<int>(g_boxes.size()), 1);
            QCOMPARE(g_boxes[0].text, std::string("The Number of Cache Segments must be a number from 1 to 255."));
            QVERIFY(!View()->State().Busy());
        }
        QVERIFY(!Contains(Log(), "Setting Special Mode Drive Preferences"));

        // AWRE is on already: nothing is sent for it. The drive cuts 100 segments to 64.
        segments->setText("100");
        Radio(kSpecial, "arreOff")->setChecked(true);
        Click(kSpecial, "applyButton");
        WaitForEnd();
        std::string log = Log();
        QVERIFY(Contains(log, " Setting Special Mode Drive Preferences\n"));
        QVERIFY(Contains(log, "Port:0 Target:0 Lun:0  Disc Changing ARRE To OFF Passed\n"));
        QVERIFY(Contains(log, "Port:0 Target:0 Lun:0  Disc Changing Number of Cache Segments Setting to 64 Passed\n"));
        QVERIFY(Contains(log, " Done Setting Special Mode Drive Preferences\n"));
        QVERIFY(!Contains(log, "AWRE"));
        QVERIFY(!Contains(log, "DExcpt"));
        QCOMPARE(StatusOf("Disc 0:0:0"), QString("Settings Complete"));

        Radio(kSpecial, "segmentsDefault")->setChecked(true);
        Radio(kSpecial, "dexcptOn")->setChecked(true);
        Click(kSpecial, "applyButton");
        WaitForEnd();
        log = Log();
        QVERIFY(Contains(log, "Port:0 Target:0 Lun:0  Disc Changing Number of Cache Segments Setting to 16 Passed\n"));
        QVERIFY(Contains(log, "Port:0 Target:0 Lun:0  Disc Changing DExcpt To ON Passed\n"));
        View()->GoTo(kStandard);
        View()->GoTo(kSpecial);
        Settle();
        QVERIFY(Radio(kSpecial, "arreOff")->isChecked());
        QVERIFY(Radio(kSpecial, "dexcptOn")->isChecked());
        QCOMPARE(segments->text(), QString("16"));
    }

    void loopOptionsOnFibreChannel()
    {
        SelectAndGo({"Disc 1:0:0"}, kSpecial);
        QVERIFY(Radio(kSpecial, "dlmOff")->isChecked() && Radio(kSpecial, "dlmOff")->isEnabled());
        QVERIFY(Radio(kSpecial, "dtoliOff")->isChecked() && Radio(kSpecial, "dtoliOn")->isEnabled());
        Radio(kSpecial, "dlmOn")->setChecked(true);
        Click(kSpecial, "applyButton");
        WaitForEnd();
        QVERIFY(Contains(Log(), "Port:1 Target:0 Lun:0  Disc Changing DLM To ON Passed\n"));
        QVERIFY(!Contains(Log(), "DTOLI"));

        // One drive on a parallel bus takes the options away from the whole selection.
        View()->GoTo(CHarrowView::PAGE_DEVICES);
        SelectAndGo({"Disc 0:0:0"}, kSpecial);
        QVERIFY(!Radio(kSpecial, "dlmOn")->isEnabled());
    }
};

QTEST_MAIN(PreferencesTest)
#include "PreferencesTest.moc"

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

    static constexpr int STANDARD = CHarrowView::PAGE_STANDARD_PREFERENCES;
    static constexpr int SPECIAL = CHarrowView::PAGE_SPECIAL_PREFERENCES;

private slots:
    void init() { Begin(HARROW_PREFS_MACHINE); }
    void cleanup() { End(); }

    void standardMixedSelection()
    {
        SelectAndGo({"Disc 0:0:0", "Disc 0:1:0", "Disc 0:2:0"}, STANDARD);
        // Preset from the first drive: PM off, performance seek, write cache on, read cache on.
        QVERIFY(Radio(STANDARD, "pmOff")->isEnabled() && Radio(STANDARD, "pmOff")->isChecked());
        QVERIFY(Radio(STANDARD, "jitPerformance")->isChecked());
        QVERIFY(Radio(STANDARD, "wceOn")->isChecked());
        QVERIFY(Radio(STANDARD, "rcdOff")->isChecked());
        Radio(STANDARD, "pmOn")->setChecked(true);
        Radio(STANDARD, "jitLevel1")->setChecked(true);
        Radio(STANDARD, "wceOff")->setChecked(true);
        SaveShot("prefs-standard");
        Click(STANDARD, "applyButton");
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
        View()->GoTo(SPECIAL);
        View()->GoTo(STANDARD);
        QVERIFY(Radio(STANDARD, "pmOn")->isChecked());
        QVERIFY(Radio(STANDARD, "jitLevel1")->isChecked());
        QVERIFY(Radio(STANDARD, "wceOff")->isChecked());
    }

    void standardButtonsFollowTheFirstDrive()
    {
        SelectAndGo({"Disc 0:1:0"}, STANDARD);
        QVERIFY(!Radio(STANDARD, "pmOn")->isEnabled());
        QVERIFY(!Radio(STANDARD, "pmOff")->isEnabled());
        QVERIFY(Radio(STANDARD, "jitPerformance")->isEnabled());
        QVERIFY(Radio(STANDARD, "wceOn")->isEnabled());
        View()->GoTo(CHarrowView::PAGE_DEVICES);
        View()->DevicePage()->Tree()->topLevelItem(0)->child(1)->setCheckState(0, Qt::Unchecked);
        SelectAndGo({"Disc 0:2:0"}, STANDARD);
        QVERIFY(!Radio(STANDARD, "pmOn")->isEnabled());
        QVERIFY(!Radio(STANDARD, "jitLevel2")->isEnabled());
        QVERIFY(Radio(STANDARD, "rcdOn")->isEnabled());
    }

    void standardAbortBetweenDrives()
    {
        SelectAndGo({"Disc 0:0:0", "Disc 0:2:0"}, STANDARD);
        Click(STANDARD, "applyButton");
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
        SelectAndGo({"Disc 0:0:0", "Disc 0:2:0"}, STANDARD);
        Click(STANDARD, "applyButton");
        WaitForEnd();
        QCOMPARE(StatusOf("Disc 0:2:0"), QString("Settings Complete"));
        Click(STANDARD, "applyButton");
        QTest::mouseClick(View()->Status()->findChild<QPushButton*>("statusAbort"), Qt::LeftButton);
        WaitForEnd();
        QCOMPARE(StatusOf("Disc 0:0:0"), QString("Settings Complete"));
        QCOMPARE(StatusOf("Disc 0:2:0"), QString(""));
    }

    void specialPreferences()
    {
        SelectAndGo({"Disc 0:0:0"}, SPECIAL);
        auto* segments = Page(SPECIAL)->findChild<QLineEdit*>("segmentsField");
        QVERIFY(Radio(SPECIAL, "awreOn")->isChecked() && Radio(SPECIAL, "awreOn")->isEnabled());
        QVERIFY(Radio(SPECIAL, "arreOn")->isChecked());
        QVERIFY(Radio(SPECIAL, "dexcptOff")->isChecked() && Radio(SPECIAL, "dexcptOff")->isEnabled());
        QCOMPARE(segments->text(), QString("16"));
        // A parallel SCSI adapter: no loop options.
        QVERIFY(!Radio(SPECIAL, "dlmOn")->isEnabled());
        QVERIFY(!Radio(SPECIAL, "dtoliOff")->isEnabled());
        SaveShot("prefs-special");

        for (const char* refused : {"0", "256", "many"}) {
            segments->setText(refused);
            g_boxes.clear();
            Click(SPECIAL, "applyButton");
            QCOMPARE(static_cast<int>(g_boxes.size()), 1);
            QCOMPARE(g_boxes[0].text, std::string("The Number of Cache Segments must be a number from 1 to 255."));
            QVERIFY(!View()->State().Busy());
        }
        QVERIFY(!Contains(Log(), "Setting Special Mode Drive Preferences"));

        // AWRE is on already: nothing is sent for it. The drive cuts 100 segments to 64.
        segments->setText("100");
        Radio(SPECIAL, "arreOff")->setChecked(true);
        Click(SPECIAL, "applyButton");
        WaitForEnd();
        std::string log = Log();
        QVERIFY(Contains(log, " Setting Special Mode Drive Preferences\n"));
        QVERIFY(Contains(log, "Port:0 Target:0 Lun:0  Disc Changing ARRE To OFF Passed\n"));
        QVERIFY(Contains(log, "Port:0 Target:0 Lun:0  Disc Changing Number of Cache Segments Setting to 64 Passed\n"));
        QVERIFY(Contains(log, " Done Setting Special Mode Drive Preferences\n"));
        QVERIFY(!Contains(log, "AWRE"));
        QVERIFY(!Contains(log, "DExcpt"));
        QCOMPARE(StatusOf("Disc 0:0:0"), QString("Settings Complete"));

        Radio(SPECIAL, "segmentsDefault")->setChecked(true);
        Radio(SPECIAL, "dexcptOn")->setChecked(true);
        Click(SPECIAL, "applyButton");
        WaitForEnd();
        log = Log();
        QVERIFY(Contains(log, "Port:0 Target:0 Lun:0  Disc Changing Number of Cache Segments Setting to 16 Passed\n"));
        QVERIFY(Contains(log, "Port:0 Target:0 Lun:0  Disc Changing DExcpt To ON Passed\n"));
        View()->GoTo(STANDARD);
        View()->GoTo(SPECIAL);
        Settle();
        QVERIFY(Radio(SPECIAL, "arreOff")->isChecked());
        QVERIFY(Radio(SPECIAL, "dexcptOn")->isChecked());
        QCOMPARE(segments->text(), QString("16"));
    }

    void loopOptionsOnFibreChannel()
    {
        SelectAndGo({"Disc 1:0:0"}, SPECIAL);
        QVERIFY(Radio(SPECIAL, "dlmOff")->isChecked() && Radio(SPECIAL, "dlmOff")->isEnabled());
        QVERIFY(Radio(SPECIAL, "dtoliOff")->isChecked() && Radio(SPECIAL, "dtoliOn")->isEnabled());
        Radio(SPECIAL, "dlmOn")->setChecked(true);
        Click(SPECIAL, "applyButton");
        WaitForEnd();
        QVERIFY(Contains(Log(), "Port:1 Target:0 Lun:0  Disc Changing DLM To ON Passed\n"));
        QVERIFY(!Contains(Log(), "DTOLI"));

        // One drive on a parallel bus takes the options away from the whole selection.
        View()->GoTo(CHarrowView::PAGE_DEVICES);
        SelectAndGo({"Disc 0:0:0"}, SPECIAL);
        QVERIFY(!Radio(SPECIAL, "dlmOn")->isEnabled());
    }
};

QTEST_MAIN(PreferencesTest)
#include "PreferencesTest.moc"

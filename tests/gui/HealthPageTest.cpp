// The drive health on the Log Pages page: the same report and verdict as
// HarrowCLI --health, with a failing drive's alarms in red.
#include "GuiFixture.h"

#include "gui/CLogPages.h"

#include <QLabel>
#include <QListWidget>

using namespace gui_fixture;

class HealthPageTest : public QObject, private GuiFixture {
    Q_OBJECT

    static constexpr int kLogPages = CHarrowView::PAGE_LOG_PAGES;

    QWidget* LogPage() { return View()->PageWidget(kLogPages); }
    QListWidget* Report() { return LogPage()->findChild<QListWidget*>("healthReport"); }
    QString Verdict() { return LogPage()->findChild<QLabel*>("healthVerdict")->text(); }

    QListWidgetItem* Line(const QString& text)
    {
        for (int i = 0; i < Report()->count(); ++i) {
            if (Report()->item(i)->text() == text) {
                return Report()->item(i);
            }
        }
        return nullptr;
    }

private slots:
    void init() { Begin(HARROW_HEALTH_MACHINE); }
    void cleanup() { End(); }

    void failingDriveStandsOut()
    {
        SelectAndGo({"Disc 0:0:0"}, kLogPages);
        // The page reads the drive on a thread of its own.
        QTRY_VERIFY_WITH_TIMEOUT(!Verdict().isEmpty(), kWaitMs);
        QCOMPARE(Verdict(), QString("SCSI health: FAILED: failure predicted (ASC/ASCQ 5Dh/10h); temperature at or "
                                    "above the reference; uncorrected errors logged"));
        QCOMPARE(Report()->item(0)->text(), QString("Drive 0:0:0: KESTREL KX18LVD K100, serial HOT00000"));
        QCOMPARE(Report()->item(Report()->count() - 1)->text(), Verdict());
        const QListWidgetItem* predicted =
            Line("Informational exceptions: failure predicted (ASC/ASCQ 5Dh/10h), last temperature 64 C");
        const QListWidgetItem* hot = Line("Current temperature: 64 C");
        const QListWidgetItem* ports = Line("Protocol-specific port (page 18h): not supported");
        QVERIFY(predicted != nullptr && hot != nullptr && ports != nullptr);
        QVERIFY(predicted->font().bold());
        QVERIFY(hot->font().bold());
        QCOMPARE(hot->foreground().color(), QColor(0xB0, 0x00, 0x00));
        QVERIFY(!ports->font().bold());
        SaveShot("log-pages-health-failing");
    }

    void healthyDriveOfAnotherMaker()
    {
        SelectAndGo({"Disc 0:1:0"}, kLogPages);
        QTRY_VERIFY_WITH_TIMEOUT(!Verdict().isEmpty(), kWaitMs);
        QCOMPARE(Verdict(), QString("SCSI health: OK"));
        QVERIFY(Line("Port 1 phy 0: SAS 6 Gbit/s, address 0x5000C500A1B2C3D4, attached 0x500605B000A1B2C0, invalid "
                     "dwords 0, disparity errors 0, loss of dword sync 0, phy reset problems 0") != nullptr);
        for (int i = 0; i < Report()->count(); ++i) {
            QVERIFY2(!Report()->item(i)->font().bold(), qPrintable(Report()->item(i)->text()));
        }
    }
};

QTEST_MAIN(HealthPageTest)
#include "HealthPageTest.moc"

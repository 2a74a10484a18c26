#include "gui/CDriveSelfTest.h"

#include <QApplication>
#include <QButtonGroup>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

CDriveSelfTest::CDriveSelfTest(DeviceSelection& selection, RunState& state, QWidget* parent)
    : QWidget(parent), m_selection(selection), m_run(selection, state),
      m_short(new QRadioButton(tr("&Short test"), this)), m_long(new QRadioButton(tr("&Long test"), this)),
      m_share(new QSpinBox(this)), m_start(new QPushButton(tr("S&tart Test"), this)),
      m_abort(new QPushButton(tr("A&bort Test"), this)), m_started(new QLabel(this)), m_note(new QLabel(this))
{
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(tr("Runs the drive's own self test (DST) on Kestrel drives that have it, the Legacy "
                                "test on other Kestrel drives and the Generic test on every other device, on all "
                                "selected drives at once."),
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto* length = new QGroupBox(tr("Test length"), this);
    auto* lengthLayout = new QVBoxLayout(length);
    m_short->setObjectName("shortTest");
    m_long->setObjectName("longTest");
    m_short->setChecked(true);
    lengthLayout->addWidget(m_short);
    lengthLayout->addWidget(m_long);
    layout->addWidget(length);

    auto* form = new QFormLayout;
    m_share->setObjectName("testShare");
    m_share->setRange(1, 100);
    m_share->setValue(100);
    m_share->setSuffix(" %");
    form->addRow(tr("Part of each test to run:"), m_share);
    layout->addLayout(form);

    auto* buttons = new QHBoxLayout;
    m_start->setObjectName("startTest");
    m_abort->setObjectName("abortTest");
    buttons->addWidget(m_start);
    buttons->addWidget(m_abort);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    m_started->setObjectName("startedText");
    m_note->setObjectName("testNote");
    m_note->setWordWrap(true);
    layout->addWidget(m_started);
    layout->addWidget(m_note);
    layout->addStretch(1);

    connect(m_start, &QPushButton::clicked, this, &CDriveSelfTest::StartTest);
    connect(m_long, &QRadioButton::toggled, this, &CDriveSelfTest::LengthChanged);
    connect(m_abort, &QPushButton::clicked, this, &CDriveSelfTest::AbortTest);
    connect(&m_run, &DriveTestRun::Changed, this, &CDriveSelfTest::RunChanged);
    connect(&m_run, &DriveTestRun::Finished, this, [this] {
        QApplication::restoreOverrideCursor();
        UpdateControls();
        emit RunFinished();
    });
    UpdateControls();
}

void CDriveSelfTest::Enter() { UpdateControls(); }

void CDriveSelfTest::SetLongTest(bool longTest) { (longTest ? m_long : m_short)->setChecked(true); }

void CDriveSelfTest::StartTest()
{
    if (m_run.Running()) {
        return;
    }
    emit RunStarted();
    if (!m_run.Start(m_long->isChecked(), m_share->value() / 100.0)) {
        UpdateControls();
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_started->setText(QString::fromStdString(m_run.StartedText()));
    UpdateControls();
}

void CDriveSelfTest::AbortTest() { m_run.Abort(); }

void CDriveSelfTest::UpdateControls()
{
    const bool empty = m_selection.Empty();
    const bool running = m_run.Running();
    m_note->setText(empty ? tr("No device is selected. Tick drives on the Devices page first.") : QString());
    m_start->setEnabled(!empty && !running);
    m_abort->setEnabled(running);
    m_short->setEnabled(!running);
    m_long->setEnabled(!running);
    m_share->setEnabled(!running);
}

#include "oemtest/COemRunPage.h"

#include "core/devices/SCSIDevice.h"
#include "core/tests/CTestBase.h"
#include "frontend/ResourceText.h"
#include "frontend/TextFormat.h"
#include "gui/GuiLog.h"
#include "gui/Resources.h"
#include "oemtest/OemRun.h"
#include "oemtest/OemTestPlan.h"
#include "oemtest/ThroughputChart.h"
#include "platform/Library.h"
#include "platform/System.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// Our lines go to the program's log file, named in its resource library.
void UseProgramLog()
{
    if (!GetLogSettings().logFileName.empty()) {
        return;
    }
    if (HMODULE resources = LoadLibraryA("RESDLL.DLL"); resources != nullptr) {
        GetLogSettings().logFileName = LoadResourceText(resources, RES_GUI_LOG_FILE_NAME);
        FreeLibrary(resources);
    }
}

QString StateText(unsigned long state)
{
    switch (state) {
    case CTestBase::kTestStateRunning: return QObject::tr("Running");
    case CTestBase::kTestStatePassed: return QObject::tr("Passed");
    case CTestBase::kTestStateAborted: return QObject::tr("Aborted");
    case CTestBase::kTestStateFailed: return QObject::tr("Failed");
    default: return QObject::tr("Not run");
    }
}

}  // namespace

COemRunPage::COemRunPage(std::shared_ptr<OemTestPlan> plan, QWidget* parent)
    : QWidget(parent), m_plan(std::move(plan)), m_start(new QPushButton(tr("&Start"), this)),
      m_cancel(new QPushButton(tr("&Cancel Test"), this)), m_note(new QLabel(this)), m_elapsed(new QLabel(this)),
      m_events(new QListWidget(this))
{
    setWindowTitle(tr("%1 Test").arg(m_plan->Command().name));
    m_start->setObjectName("oemStart");
    m_cancel->setObjectName("oemCancel");
    m_note->setObjectName("oemNote");
    m_note->setWordWrap(true);
    m_elapsed->setObjectName("oemElapsed");
    m_events->setObjectName("oemEvents");
    QStringList names;
    for (const OemDevice& entry : m_plan->Devices()) {
        names << QString::fromStdString(entry.name).section(' ', 0, 1);
    }
    m_megabytes = new ThroughputChart(tr("MB/s"), names, this);
    m_megabytes->setObjectName("oemMegabytesChart");
    m_commands = new ThroughputChart(tr("commands/s"), names, this);
    m_commands->setObjectName("oemCommandsChart");

    auto* layout = new QVBoxLayout(this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_start);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_elapsed, 1, Qt::AlignRight);
    layout->addLayout(buttons);
    layout->addWidget(m_note);
    layout->addWidget(MakeDriveRows());
    auto* charts = new QHBoxLayout;
    charts->addWidget(m_megabytes);
    charts->addWidget(m_commands);
    layout->addLayout(charts, 2);
    m_megabytes->setVisible(MovesData(m_plan->Command()));
    m_commands->setVisible(MovesData(m_plan->Command()));
    layout->addWidget(new QLabel(tr("Events:"), this));
    layout->addWidget(m_events, 1);

    connect(m_start, &QPushButton::clicked, this, &COemRunPage::Start);
    connect(m_cancel, &QPushButton::clicked, this, &COemRunPage::Cancel);
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &COemRunPage::Poll);
    UpdateControls();
}

COemRunPage::~COemRunPage()
{
    if (m_run != nullptr) {
        LogStamped("Disc Test(s) Aborted by user");
    }
}

QWidget* COemRunPage::MakeDriveRows()
{
    auto* rows = new QWidget(this);
    auto* grid = new QGridLayout(rows);
    grid->setContentsMargins(0, 0, 0, 0);
    const std::vector<OemDevice>& devices = m_plan->Devices();
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const int row = static_cast<int>(i);
        DriveRow drive{new QProgressBar(rows), new QLabel(rows), new QLabel(StateText(0), rows)};
        drive.progress->setObjectName(QString("oemProgress%1").arg(row));
        drive.rates->setObjectName(QString("oemRates%1").arg(row));
        drive.state->setObjectName(QString("oemState%1").arg(row));
        drive.progress->setRange(0, 100);
        drive.progress->setValue(0);
        grid->addWidget(new QLabel(QString::fromStdString(devices[i].name), rows), row, 0);
        grid->addWidget(drive.progress, row, 1);
        grid->addWidget(drive.rates, row, 2);
        grid->addWidget(drive.state, row, 3);
        m_rows.push_back(drive);
    }
    grid->setColumnStretch(1, 1);
    return rows;
}

void COemRunPage::Start()
{
    if (m_run != nullptr) {
        return;
    }
    if (const std::string problem = m_plan->Check(); !problem.empty()) {
        m_note->setText(QString::fromStdString(problem));
        return;
    }
    if (m_plan->Command().writes && !Confirmed()) {
        m_note->setText(tr("Not started: the drives keep their data."));
        return;
    }
    Error_t result = ERR_NONE;
    std::unique_ptr<CTestBase> test = m_plan->MakeTest(result);
    if (test == nullptr) {
        m_note->setText(tr("The test refused its parameters (error %1).").arg(static_cast<std::uint32_t>(result), 8, 16, QChar('0')));
        return;
    }
    std::vector<SCSIDevice*> devices;
    for (const OemDevice& entry : m_plan->Devices()) {
        devices.push_back(entry.device);
    }
    UseProgramLog();
    LogStamped("Beginning Disc Test Execution");
    for (const OemDevice& entry : m_plan->Devices()) {
        LogLine(Format("Disc Starting %s test", m_plan->Command().name), &entry.record, kGuiWithAddress);
    }
    m_run = std::make_unique<OemRun>(std::move(test), std::move(devices), m_plan->ProgressBasis());
    m_events->clear();
    m_note->setText(tr("%1 started at %2").arg(m_plan->Command().name, QString::fromStdString(TimeStamp("%H:%M:%S"))));
    m_run->Start();
    m_clock.start();
    m_lastSampleMs = 0;
    m_poll.start();
    UpdateControls();
    emit RunningChanged(true);
}

bool COemRunPage::Confirmed()
{
    const std::string caption = Format("%s Test", m_plan->Command().name);
    return MessageBoxA(nullptr, m_plan->ConfirmationText().c_str(), caption.c_str(),
                       MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDYES;
}

void COemRunPage::Cancel()
{
    if (m_run == nullptr || m_run->Cancelled()) {
        return;
    }
    m_run->Cancel();
    LogStamped("Disc Test(s) Aborted by user");
    UpdateControls();
}

void COemRunPage::Poll()
{
    const bool finished = m_run->Finished();
    ShowEvents(m_run->TakeEvents());
    const qint64 now = m_clock.elapsed();
    ShowFigures(m_run->Sample(static_cast<double>(now - m_lastSampleMs) / 1000.0, static_cast<double>(now) / 1000.0),
                finished);
    m_lastSampleMs = now;
    const qint64 seconds = now / 1000;
    m_elapsed->setText(QString::asprintf("%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60));
    if (finished) {
        Finish();
    }
}

void COemRunPage::ShowEvents(const std::vector<OemEvent>& events)
{
    for (const OemEvent& event : events) {
        m_events->addItem(QString::fromStdString(event.text).trimmed());
        const DeviceRecord* record = nullptr;
        for (const OemDevice& entry : m_plan->Devices()) {
            if (entry.address == event.address) {
                record = &entry.record;
            }
        }
        LogLine(event.text, record, kGuiWithAddress);
    }
}

void COemRunPage::ShowFigures(const std::vector<OemDeviceFigures>& figures, bool finished)
{
    std::vector<double> megabytes;
    std::vector<double> commands;
    for (std::size_t i = 0; i < figures.size() && i < m_rows.size(); ++i) {
        m_rows[i].progress->setValue(figures[i].percent);
        m_rows[i].rates->setText(RatesText(figures[i], finished));
        m_rows[i].state->setText(StateText(figures[i].state));
        megabytes.push_back(figures[i].megabytesPerSecond);
        commands.push_back(figures[i].commandsPerSecond);
    }
    m_megabytes->AddSample(megabytes);
    m_commands->AddSample(commands);
}

QString COemRunPage::RatesText(const OemDeviceFigures& figure, bool finished) const
{
    if (!MovesData(m_plan->Command())) {
        return tr("no data moved");
    }
    // At the end the run's averages say more than its last moment.
    return finished ? QString::asprintf("average %.2f MB/s  %.0f commands/s", figure.averageMegabytesPerSecond,
                                        figure.averageCommandsPerSecond)
                    : QString::asprintf("%.2f MB/s  %.0f commands/s", figure.megabytesPerSecond,
                                        figure.commandsPerSecond);
}

void COemRunPage::Finish()
{
    m_poll.stop();
    const OemCommand& command = m_plan->Command();
    const std::vector<OemDevice>& devices = m_plan->Devices();
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const std::string state = StateText(devices[i].device->GetTestState()).toStdString();
        LogLine(Format("%s Test %s", command.name, state.c_str()), &devices[i].record, kGuiWithAddress);
    }
    if (m_run->Result() != ERR_NONE) {
        m_note->setText(tr("The test could not run (error %1).").arg(static_cast<std::uint32_t>(m_run->Result()), 8, 16, QChar('0')));
    } else {
        m_note->setText(tr("%1 finished at %2").arg(command.name, QString::fromStdString(TimeStamp("%H:%M:%S"))));
    }
    LogStamped("Disc Test(s) have Completed Execution");
    m_run.reset();
    UpdateControls();
    emit RunningChanged(false);
}

void COemRunPage::UpdateControls()
{
    const bool running = m_run != nullptr;
    m_start->setEnabled(!running);
    m_cancel->setEnabled(running && !m_run->Cancelled());
}

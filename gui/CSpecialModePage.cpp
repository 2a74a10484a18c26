#include "gui/CSpecialModePage.h"

#include "frontend/DeviceQueries.h"
#include "frontend/ResourceText.h"
#include "frontend/TextFormat.h"
#include "gui/ButtonChoice.h"
#include "gui/DriveWorker.h"
#include "gui/GuiLog.h"
#include "gui/ModePageIo.h"
#include "gui/Resources.h"
#include "platform/Kernel.h"
#include "platform/System.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

constexpr DWORD kStepPauseMs = 2000;
constexpr std::size_t kSegmentsByte = 13;
constexpr int kCachingPage = 0x08;
constexpr std::size_t kCachingBytes = 24;
constexpr int kMinSegments = 1;
constexpr int kMaxSegments = 255;
// Adapters that address more devices than a parallel bus: Fibre Channel.
constexpr std::uint8_t kPortOptionMinDevices = 0x11;
// Button ids of the cache-segment choice.
constexpr int kSegmentsValue = 1;
constexpr int kSegmentsDefault = 0;

struct Setting {
    const char* name;
    int page;
    std::size_t bytes;
    std::size_t byte;
    std::uint8_t mask;
    const char* readFailedStatus;
    const char* readFailedLog;
};

// In the order they are applied; the cache segments take the whole byte.
constexpr Setting kSettings[] = {
    {"AWRE", 0x01, 16, 2, 0x80, "Retrieving Current AWRE Setting Failed", "Disc Retrieving current AWRE Setting Failed"},
    {"ARRE", 0x01, 16, 2, 0x40, "Retrieving current ARRE Setting Failed", "Disc Retrieving current ARRE Setting Failed"},
    {"Number of Cache Segments", kCachingPage, kCachingBytes, kSegmentsByte, 0xFF,
     "Retrieving current Number of Cache Segments Failed", "Disc Retrieving current Number of Cache Segments Failed"},
    {"DExcpt", 0x1C, 16, 2, 0x08, "Retrieving current DExcpt Setting Failed",
     "Disc Retrieving current DExcpt Setting Failed"},
    {"DLM", 0x19, 12, 3, 0x10, "Retrieving current DLM Setting Failed", "Disc Retrieving current DLM setting Failed"},
    {"DTOLI", 0x19, 12, 3, 0x01, "Retrieving current DTOLI setting Failed",
     "Disc Retrieving current DTOLI setting Failed"},
};
static_assert(std::size(kSettings) == CSpecialModePage::SETTING_COUNT);

// One drive's run of the available settings.
class SpecialApply {
public:
    SpecialApply(DeviceRecord& record, const CSpecialModePage::Choice& choice) : m_record(record), m_choice(choice) {}

    void Run()
    {
        for (int id = 0; id < CSpecialModePage::SETTING_COUNT; ++id) {
            if (m_choice.available[id]) {
                ApplySetting(static_cast<CSpecialModePage::SettingId>(id));
            }
        }
        PublishStatus(m_record, m_allPassed ? TEST_PASSED : TEST_FAILED,
                      m_allPassed ? "Settings Complete" : "One or more of the settings Failed");
        Sleep(kStepPauseMs);
    }

private:
    void Show(TestState state, const std::string& status, const std::string& log)
    {
        PublishStatus(m_record, state, status);
        if (!log.empty()) {
            LogLine(log, &m_record, kGuiWithAddress);
        }
    }

    void Fail(const std::string& status, const std::string& log)
    {
        m_allPassed = false;
        Show(TEST_RUNNING, status, log);
        Sleep(kStepPauseMs);
    }

    // The parameters-saveable bit is reserved in MODE SELECT.
    bool Write(WorkingPage& page, std::size_t bytes)
    {
        page.PageByte(0) &= 0x3F;
        return ModeSelectPage(m_record, page, bytes) == 0;
    }

    void ApplySetting(CSpecialModePage::SettingId id)
    {
        const Setting& setting = kSettings[id];
        WorkingPage page;
        if (!ReadPreferencePage(m_record, setting.page, kPageCurrent, page, setting.bytes)) {
            Fail(setting.readFailedStatus, setting.readFailedLog);
            return;
        }
        if (id == CSpecialModePage::CACHE_SEGMENTS) {
            m_choice.segmentsDefault ? SegmentsToDefault(page) : SegmentsToValue(page);
            return;
        }
        std::uint8_t& byte = page.PageByte(setting.byte);
        const bool on = m_choice.on[id];
        if (((byte & setting.mask) != 0) == on) {
            return;
        }
        Show(TEST_RUNNING, Format("Changing %s Setting", setting.name), "");
        Sleep(kStepPauseMs);
        byte = on ? byte | setting.mask : byte & ~setting.mask;
        const bool passed = Write(page, setting.bytes);
        const std::string text =
            Format("Changing %s To %s %s", setting.name, on ? "ON" : "OFF", passed ? "Passed" : "Failed");
        m_allPassed = m_allPassed && passed;
        Show(TEST_RUNNING, text, "Disc " + text);
        Sleep(kStepPauseMs);
    }

    void SegmentsToValue(WorkingPage& page)
    {
        const int wanted = m_choice.segments;
        if (page.PageByte(kSegmentsByte) == wanted) {
            return;
        }
        Show(TEST_RUNNING, "Changing Number of Cache Segments Setting", "");
        Sleep(kStepPauseMs);
        page.PageByte(kSegmentsByte) = static_cast<std::uint8_t>(wanted);
        std::string text;
        if (Write(page, kCachingBytes)) {
            // The drive may round the number to one it supports.
            WorkingPage readBack;
            const int now = ReadPreferencePage(m_record, kCachingPage, kPageCurrent, readBack, kCachingBytes)
                                ? readBack.PageByte(kSegmentsByte)
                                : wanted;
            text = Format("Changing Number of Cache Segments Setting to %d Passed", now);
        } else {
            m_allPassed = false;
            text = Format("Changing Number of Cache Segments Setting to %d Failed", wanted);
        }
        Show(TEST_RUNNING, text, "Disc " + text);
        Sleep(kStepPauseMs);
    }

    void SegmentsToDefault(WorkingPage& page)
    {
        WorkingPage defaults;
        if (!ReadPreferencePage(m_record, kCachingPage, kPageDefault, defaults, kCachingBytes)) {
            Fail("Retrieving the default Number of Cache Segments Failed",
                 "Disc Retrieving the default Number of Cache Segments Failed");
            return;
        }
        const std::uint8_t value = defaults.PageByte(kSegmentsByte);
        if (page.PageByte(kSegmentsByte) == value) {
            return;
        }
        Show(TEST_RUNNING, "Changing Number of Cache Segments to its default", "");
        Sleep(kStepPauseMs);
        page.PageByte(kSegmentsByte) = value;
        if (Write(page, kCachingBytes)) {
            const std::string text = Format("Changing Number of Cache Segments Setting to %d Passed", value);
            Show(TEST_RUNNING, text, "Disc " + text);
        } else {
            m_allPassed = false;
            Show(TEST_RUNNING, "Changing Number of Cache Segments Setting to its default Failed",
                 "Disc Changing Number of Cache Segments Setting its default Failed");
        }
        Sleep(kStepPauseMs);
    }

    DeviceRecord& m_record;
    CSpecialModePage::Choice m_choice;
    bool m_allPassed = true;
};

}  // namespace

CSpecialModePage::CSpecialModePage(DeviceSelection& selection, RunState& state, QWidget* parent)
    : WizardPage(parent), m_selection(selection), m_run(state, ACTIVITY_SPECIAL_PREFERENCES),
      m_segments(new QLineEdit(this)), m_apply(new QPushButton(tr("&Apply Settings"), this)), m_note(new QLabel(this))
{
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    const char* names[] = {"awre", "arre", "segments", "dexcpt", "dlm", "dtoli"};
    const QString titles[] = {tr("Automatic Write Reallocation (AWRE)"), tr("Automatic Read Reallocation (ARRE)"),
                              tr("Number of Cache Segments"), tr("Disable Exception Reporting (DExcpt)"),
                              tr("Disable Loop Master (DLM)"), tr("Disable Target Originated Loop Init (DTOLI)")};
    for (int id = 0; id < SETTING_COUNT; ++id) {
        auto* group = new QButtonGroup(this);
        auto* on = new QRadioButton(id == CACHE_SEGMENTS ? tr("Value:") : tr("On"), this);
        auto* off = new QRadioButton(id == CACHE_SEGMENTS ? tr("Default") : tr("Off"), this);
        on->setObjectName(QString(names[id]) + (id == CACHE_SEGMENTS ? "Value" : "On"));
        off->setObjectName(QString(names[id]) + (id == CACHE_SEGMENTS ? "Default" : "Off"));
        group->addButton(on, 1);
        group->addButton(off, 0);
        m_groups[id] = group;
        grid->addWidget(new QLabel(titles[id], this), id, 0);
        grid->addWidget(on, id, 1);
        if (id == CACHE_SEGMENTS) {
            m_segments->setObjectName("segmentsField");
            m_segments->setMaximumWidth(60);
            grid->addWidget(m_segments, id, 2);
        }
        grid->addWidget(off, id, 3);
    }
    layout->addLayout(grid);
    AddApplyFooter(layout, m_apply, m_note);

    connect(m_apply, &QPushButton::clicked, this, &CSpecialModePage::Apply);
    connect(&m_run, &DriveSequence::Changed, this, &CSpecialModePage::RunChanged);
    connect(&m_run, &DriveSequence::Finished, this, [this] {
        LogStamped("Done Setting Special Mode Drive Preferences");
        UpdateControls();
        emit RunFinished();
    });
    UpdateControls();
}

void CSpecialModePage::Enter()
{
    m_choice = Choice{};
    for (QButtonGroup* group : m_groups) {
        SetCheckedId(group, -1);
    }
    m_segments->clear();
    const std::vector<DeviceRecord*> records = m_selection.Records();
    if (records.empty()) {
        UpdateControls();
        return;
    }
    if (m_presetter.joinable()) {
        m_presetter.join();
    }
    m_presetting = true;
    UpdateControls();
    m_note->setText(tr("Reading the drive's settings..."));
    const int generation = ++m_generation;
    m_presetter = std::thread([this, generation, copy = *records.front(), ports = PortOptionsSupported()]() mutable {
        LowerThreadPriority();
        const PresetRead preset = Preset(copy, ports);
        QMetaObject::invokeMethod(
            this, [this, generation, preset] { ShowPreset(generation, preset); }, Qt::QueuedConnection);
    });
}

CSpecialModePage::~CSpecialModePage()
{
    if (m_presetter.joinable()) {
        m_presetter.join();
    }
}

void CSpecialModePage::ShowPreset(int generation, const PresetRead& preset)
{
    if (generation != m_generation) {
        return;
    }
    m_presetting = false;
    m_choice = preset.choice;
    for (int id = 0; id < SETTING_COUNT; ++id) {
        SetCheckedId(m_groups[id], preset.checked[id]);
    }
    if (preset.checked[CACHE_SEGMENTS] == kSegmentsValue) {
        m_segments->setText(QString::number(m_choice.segments));
    }
    UpdateControls();
}

bool CSpecialModePage::PortOptionsSupported()
{
    for (const DeviceRecord* record : m_selection.Records()) {
        AdapterInfo info;
        if (record->isKestrel == 0 || GetAdapterInfo(record->hostAdapter, info) != 1 ||
            info.block[kAdapterBlockDevices] < kPortOptionMinDevices) {
            return false;
        }
    }
    return true;
}

CSpecialModePage::PresetRead CSpecialModePage::Preset(DeviceRecord& first, bool portOptions)
{
    PresetRead preset;
    PresetBit(first, AWRE, preset);
    PresetBit(first, ARRE, preset);
    PresetSegments(first, preset);
    PresetBit(first, DEXCPT, preset);
    if (portOptions) {
        PresetBit(first, DLM, preset);
        PresetBit(first, DTOLI, preset);
    }
    return preset;
}

void CSpecialModePage::PresetBit(DeviceRecord& first, SettingId id, PresetRead& into)
{
    Choice& choice = into.choice;
    const Setting& setting = kSettings[id];
    WorkingPage page;
    if (!ReadPreferencePage(first, setting.page, kPageCurrent, page, setting.bytes)) {
        LogLine(Format("Disc Unable to retrieve %s", setting.name), &first, kGuiWithAddress);
        return;
    }
    choice.on[id] = (page.PageByte(setting.byte) & setting.mask) != 0;
    into.checked[id] = choice.on[id] ? 1 : 0;
    if (ReadPreferencePage(first, setting.page, kPageChangeable, page, setting.bytes) &&
        (page.PageByte(setting.byte) & setting.mask) != 0) {
        choice.available[id] = true;
    } else {
        LogLine(Format("Disc Unable to change %s", setting.name), &first, kGuiWithAddress);
    }
}

void CSpecialModePage::PresetSegments(DeviceRecord& first, PresetRead& into)
{
    Choice& choice = into.choice;
    WorkingPage page;
    if (!ReadPreferencePage(first, kCachingPage, kPageCurrent, page, kCachingBytes)) {
        LogLine("Disc Unable to retrieve the current Number of Cache Segments", &first, kGuiWithAddress);
        return;
    }
    choice.segments = page.PageByte(kSegmentsByte);
    into.checked[CACHE_SEGMENTS] = kSegmentsValue;
    if (!ReadPreferencePage(first, kCachingPage, kPageDefault, page, kCachingBytes)) {
        LogLine("Disc Unable to retrieve the default Number of Cache Segments", &first, kGuiWithAddress);
        return;
    }
    if (ReadPreferencePage(first, kCachingPage, kPageChangeable, page, kCachingBytes) &&
        page.PageByte(kSegmentsByte) != 0) {
        choice.available[CACHE_SEGMENTS] = true;
    } else {
        LogLine("Disc Unable to change the Number of Cache Segments", &first, kGuiWithAddress);
    }
}

void CSpecialModePage::ReadButtons()
{
    for (int id = 0; id < SETTING_COUNT; ++id) {
        m_choice.on[id] = m_groups[id]->checkedId() == 1;
    }
    m_choice.segmentsDefault = m_groups[CACHE_SEGMENTS]->checkedId() == kSegmentsDefault;
}

void CSpecialModePage::Apply()
{
    const std::vector<DeviceRecord*> records = m_selection.Records();
    if (records.empty() || m_run.Running()) {
        return;
    }
    bool number = false;
    const int segments = m_segments->text().trimmed().toInt(&number);
    const bool byValue = m_groups[CACHE_SEGMENTS]->checkedId() == kSegmentsValue;
    if (m_choice.available[CACHE_SEGMENTS] && byValue && (!number || segments < kMinSegments || segments > kMaxSegments)) {
        MessageBoxA(nullptr, "The Number of Cache Segments must be a number from 1 to 255.",
                    ResourceText(RES_APP_TITLE).c_str(), MB_OK | MB_ICONERROR);
        return;
    }
    emit RunStarted();
    LogStamped("Setting Special Mode Drive Preferences");
    ReadButtons();
    m_choice.segments = segments;
    const Choice choice = m_choice;
    m_run.Start(records, [choice](DeviceRecord& record) { SpecialApply(record, choice).Run(); }, 0);
    UpdateControls();
}

void CSpecialModePage::AbortRun() { m_run.Abort(); }

void CSpecialModePage::UpdateControls()
{
    const bool running = m_run.Running();
    for (int id = 0; id < SETTING_COUNT; ++id) {
        EnableButtons(m_groups[id], m_choice.available[id] && !running);
    }
    m_segments->setEnabled(m_choice.available[CACHE_SEGMENTS] && !running);
    const bool empty = m_selection.Empty();
    m_apply->setEnabled(!empty && !running && !m_presetting);
    m_note->setText(empty ? tr("No device is selected. Tick drives on the Devices page first.") : QString());
}

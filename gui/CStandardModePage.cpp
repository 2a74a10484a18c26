#include "gui/CStandardModePage.h"

#include "frontend/DeviceQueries.h"
#include "frontend/TextFormat.h"
#include "gui/ButtonChoice.h"
#include "gui/GuiLog.h"
#include "gui/ModePageIo.h"
#include "platform/Kernel.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

constexpr int kVendorPage = 0x00;
constexpr int kCachingPage = 0x08;
constexpr std::size_t kVendorBytes = 12;
constexpr std::size_t kCachingBytes = 24;
constexpr std::uint8_t kPmBit = 0x80;
constexpr std::uint8_t kWceBit = 0x04;
constexpr std::uint8_t kRcdBit = 0x01;
constexpr std::uint8_t kSaveableBit = 0x80;
constexpr DWORD kStepPauseMs = 10000;
constexpr int kFinalPauseMs = 1000;

// Button ids: off 0, on 1; JIT as the Jit values.
bool Enabled(const QButtonGroup* group) { return !group->buttons().empty() && group->buttons().front()->isEnabled(); }

CStandardModePage::Jit JitOf(std::uint8_t byte4)
{
    using Jit = CStandardModePage::Jit;
    if ((byte4 & 0x07) == 0x07) {
        return Jit::PerformanceSeek;
    }
    // Level 1 as the drive is asked for it (bit 1) and as older firmware reports it (bit 0).
    if ((byte4 & 0x07) == 0x01 || (byte4 & 0x07) == 0x02) {
        return Jit::Level1;
    }
    if ((byte4 & 0x07) == 0x04) {
        return Jit::Level2;
    }
    return Jit::None;
}

// One drive's run of the page's settings.
class StandardApply {
public:
    StandardApply(DeviceRecord& record, const CStandardModePage::Choice& choice) : m_record(record), m_choice(choice) {}

    void Run()
    {
        if (m_record.isKestrel != 0) {
            if (m_choice.pm >= 0) {
                SetPm();
            }
            if (m_choice.jit != CStandardModePage::Jit::None) {
                SetJit();
            }
        }
        if (m_choice.wce >= 0) {
            SetCacheBit(kWceBit, m_choice.wce != 0, m_choice.wce != 0 ? "WCE On" : "WCE Off");
        }
        if (m_choice.rcd >= 0) {
            SetCacheBit(kRcdBit, m_choice.rcd != 0, m_choice.rcd != 0 ? "RCD On" : "RCD Off");
        }
        PublishStatus(m_record, m_allPassed ? TEST_PASSED : TEST_FAILED,
                      m_allPassed ? "Settings Complete" : "One or more of the settings Failed");
    }

private:
    void Report(const char* step, bool passed)
    {
        const std::string text = passed ? Format("Setting %s Passed", step)
                                        : Format("Setting %s Failed %s", step, SenseValues(m_record).c_str());
        m_allPassed = m_allPassed && passed;
        PublishStatus(m_record, TEST_RUNNING, text);
        LogLine("Disc " + text, &m_record, kGuiWithAddress);
    }

    bool Write(WorkingPage& page)
    {
        page.PageByte(0) &= static_cast<std::uint8_t>(~kSaveableBit);
        return ModeSelectPage(m_record, page, page.SelectLength()) == 0;
    }

    void SetPm()
    {
        WorkingPage page;
        bool passed = ReadPreferencePage(m_record, kVendorPage, kPageCurrent, page, kVendorBytes);
        if (passed) {
            page.PageByte(2) = m_choice.pm != 0 ? page.PageByte(2) | kPmBit : page.PageByte(2) & ~kPmBit;
            passed = Write(page);
        }
        Report(m_choice.pm != 0 ? "PM On" : "PM Off", passed);
        Sleep(kStepPauseMs);
    }

    void SetJit()
    {
        using Jit = CStandardModePage::Jit;
        Sleep(kStepPauseMs);
        WorkingPage page;
        WorkingPage changeable;
        bool passed = ReadPreferencePage(m_record, kVendorPage, kPageCurrent, page, kVendorBytes);
        std::uint8_t& mode = page.PageByte(4);
        const char* step = "JIT Performance Oriented Seek";
        switch (m_choice.jit) {
        case Jit::PerformanceSeek: {
            mode |= 0x07;
            const bool read = passed && ReadPreferencePage(m_record, kVendorPage, kPageChangeable, changeable,
                                                           kVendorBytes);
            mode = read && (changeable.PageByte(4) & 0x08) ? mode | 0x08 : mode & ~0x08;
            break;
        }
        case Jit::Level1:
            step = "JIT Power and Acoustic Level 1";
            mode = (mode & 0xF2) | 0x02;
            break;
        default:
            step = "JIT Power and Acoustic Level 2";
            mode &= ~0x03;
            if (passed) {
                ReadPreferencePage(m_record, kVendorPage, kPageChangeable, changeable, kVendorBytes);
            }
            mode = (mode & 0x0C) == 0x0C ? mode & ~0x04 : (mode & ~0x08) | 0x04;
            break;
        }
        Report(step, passed && Write(page));
    }

    void SetCacheBit(std::uint8_t bit, bool on, const char* step)
    {
        WorkingPage page;
        bool passed = ReadPreferencePage(m_record, kCachingPage, kPageCurrent, page, kCachingBytes);
        if (passed) {
            page.PageByte(2) = on ? page.PageByte(2) | bit : page.PageByte(2) & ~bit;
            passed = Write(page);
        }
        Report(step, passed);
        Sleep(kStepPauseMs);
    }

    DeviceRecord& m_record;
    CStandardModePage::Choice m_choice;
    bool m_allPassed = true;
};

QButtonGroup* OnOffGroup(QWidget* parent, QVBoxLayout* layout, const QString& title, const QString& name)
{
    auto* box = new QGroupBox(title, parent);
    auto* row = new QHBoxLayout(box);
    auto* group = new QButtonGroup(parent);
    auto* on = new QRadioButton(QObject::tr("On"), box);
    auto* off = new QRadioButton(QObject::tr("Off"), box);
    on->setObjectName(name + "On");
    off->setObjectName(name + "Off");
    group->addButton(off, 0);
    group->addButton(on, 1);
    row->addWidget(on);
    row->addWidget(off);
    row->addStretch(1);
    layout->addWidget(box);
    return group;
}

}  // namespace

CStandardModePage::CStandardModePage(DeviceSelection& selection, RunState& state, QWidget* parent)
    : WizardPage(parent), m_selection(selection), m_run(state, ACTIVITY_STANDARD_PREFERENCES),
      m_apply(new QPushButton(tr("&Apply Settings"), this)), m_note(new QLabel(this))
{
    auto* layout = new QVBoxLayout(this);
    m_pm = OnOffGroup(this, layout, tr("Power Management (Kestrel drives)"), "pm");
    auto* jitBox = new QGroupBox(tr("Seek Mode (Kestrel drives)"), this);
    auto* jitLayout = new QVBoxLayout(jitBox);
    m_jit = new QButtonGroup(this);
    const std::pair<Jit, const char*> jits[] = {{Jit::PerformanceSeek, "jitPerformance"},
                                                {Jit::Level1, "jitLevel1"},
                                                {Jit::Level2, "jitLevel2"}};
    const QString jitTexts[] = {tr("Performance Oriented Seek"), tr("Power and Acoustic Level 1"),
                                tr("Power and Acoustic Level 2")};
    for (int i = 0; i < 3; ++i) {
        auto* button = new QRadioButton(jitTexts[i], jitBox);
        button->setObjectName(jits[i].second);
        m_jit->addButton(button, static_cast<int>(jits[i].first));
        jitLayout->addWidget(button);
    }
    layout->addWidget(jitBox);
    m_wce = OnOffGroup(this, layout, tr("Write Cache (WCE)"), "wce");
    m_rcd = OnOffGroup(this, layout, tr("Read Cache Disable (RCD)"), "rcd");
    AddApplyFooter(layout, m_apply, m_note);

    connect(m_apply, &QPushButton::clicked, this, &CStandardModePage::Apply);
    connect(&m_run, &DriveSequence::Changed, this, &CStandardModePage::RunChanged);
    connect(&m_run, &DriveSequence::Finished, this, [this] {
        LogStamped(m_run.Aborted() ? "Aborting Standard Drive Preferences" : "Done Setting Standard Drive Preferences");
        UpdateControls();
        emit RunFinished();
    });
    UpdateControls();
}

void CStandardModePage::Enter()
{
    for (QButtonGroup* group : {m_pm, m_jit, m_wce, m_rcd}) {
        SetCheckedId(group, -1);
        EnableButtons(group, false);
    }
    const std::vector<DeviceRecord*> records = m_selection.Records();
    if (!records.empty()) {
        Preset(*records.front());
    }
    UpdateControls();
}

void CStandardModePage::Preset(DeviceRecord& first)
{
    WorkingPage changeable;
    WorkingPage current;
    if (first.isKestrel != 0 && ReadPreferencePage(first, kVendorPage, kPageChangeable, changeable, kVendorBytes) &&
        ReadPreferencePage(first, kVendorPage, kPageCurrent, current, kVendorBytes)) {
        if (changeable.PageByte(2) & kPmBit) {
            EnableButtons(m_pm, true);
            SetCheckedId(m_pm, (current.PageByte(2) & kPmBit) ? 1 : 0);
        }
        if ((changeable.PageByte(4) & 0x07) == 0x07) {
            EnableButtons(m_jit, true);
            SetCheckedId(m_jit, static_cast<int>(JitOf(current.PageByte(4))));
        }
    }
    if (ReadPreferencePage(first, kCachingPage, kPageCurrent, current, kCachingBytes)) {
        EnableButtons(m_wce, true);
        EnableButtons(m_rcd, true);
        SetCheckedId(m_wce, (current.PageByte(2) & kWceBit) ? 1 : 0);
        SetCheckedId(m_rcd, (current.PageByte(2) & kRcdBit) ? 1 : 0);
    }
}

CStandardModePage::Choice CStandardModePage::Chosen() const
{
    auto pick = [](const QButtonGroup* group) { return Enabled(group) ? group->checkedId() : -1; };
    Choice choice;
    choice.pm = pick(m_pm);
    const int jit = pick(m_jit);
    choice.jit = jit < 0 ? Jit::None : static_cast<Jit>(jit);
    choice.wce = pick(m_wce);
    choice.rcd = pick(m_rcd);
    return choice;
}

void CStandardModePage::Apply()
{
    const std::vector<DeviceRecord*> records = m_selection.Records();
    if (records.empty() || m_run.Running()) {
        return;
    }
    emit RunStarted();
    LogStamped("Setting Standard Drive Preferences");
    const Choice choice = Chosen();
    if (!m_run.Start(records, [choice](DeviceRecord& record) { StandardApply(record, choice).Run(); },
                     kFinalPauseMs)) {
        return;
    }
    UpdateControls();
}

void CStandardModePage::AbortRun() { m_run.Abort(); }

void CStandardModePage::UpdateControls()
{
    const bool empty = m_selection.Empty();
    m_apply->setEnabled(!empty && !m_run.Running());
    m_note->setText(empty ? tr("No device is selected. Tick drives on the Devices page first.") : QString());
}


#include "frontend/ResourceText.h"
#include "gui/CDriveSelfTest.h"
#include "gui/CDumpBlocks.h"
#include "gui/CFirmwareDnld.h"
#include "gui/CFirmwareFAQ.h"
#include "gui/CFirmwareFiles.h"
#include "gui/CFormat.h"
#include "gui/CFormatOnly.h"
#include "gui/CHarrowView.h"
#include "gui/CLogPages.h"
#include "gui/CLogfileView.h"
#include "gui/CRescanIdentPg.h"
#include "gui/CSpecialModePage.h"
#include "gui/CStandardModePage.h"
#include "gui/CSupport.h"
#include "gui/CSupportRMA.h"
#include "gui/OemPlugin.h"
#include "gui/Resources.h"
#include "gui/StatusDisplay.h"
#include "gui/WizardPage.h"
#include "platform/System.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <stdexcept>
#include <string>

namespace {

// Room for a device line of the tree beside the status lines.
constexpr int kWizardWidth = 600;
constexpr int kStatusWidth = 660;

}  // namespace

CHarrowView::CHarrowView(const std::string& productName, QWidget* parent)
    : QWidget(parent), m_title(new QLabel(this)), m_pages(new QStackedWidget(this)),
      m_back(new QPushButton(tr("< &Back"), this)), m_next(new QPushButton(tr("&Next >"), this)),
      m_devices(new CRescanIdentPg(m_selection, m_state, productName, this)),
      m_tests(new CDriveSelfTest(m_selection, m_state, this)), m_status(new StatusDisplay(m_state, this))
{
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);

    m_pages->addWidget(m_devices);
    m_pages->addWidget(m_tests);
    for (int page = PAGE_FIRMWARE_FILES; page < PAGE_COUNT; ++page) {
        m_pages->addWidget(MakePage(page));
    }
    m_title->setObjectName("pageTitle");
    QFont big = m_title->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    m_title->setFont(big);
    m_back->setObjectName("backButton");
    m_next->setObjectName("nextButton");

    auto* wizard = new QVBoxLayout;
    wizard->addWidget(m_title);
    wizard->addWidget(m_pages, 1);
    auto* navigation = new QHBoxLayout;
    navigation->addStretch(1);
    navigation->addWidget(m_back);
    navigation->addWidget(m_next);
    wizard->addLayout(navigation);

    auto* wizardPane = new QWidget(this);
    wizardPane->setLayout(wizard);
    wizard->setContentsMargins(0, 0, 0, 0);
    auto* splitter = new QSplitter(this);
    splitter->addWidget(wizardPane);
    splitter->addWidget(m_status);
    splitter->setChildrenCollapsible(false);
    splitter->setSizes({kWizardWidth, kStatusWidth});
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(splitter);

    connect(m_back, &QPushButton::clicked, this, [this] { GoTo(CurrentPage() - 1); });
    connect(m_next, &QPushButton::clicked, this, [this] { GoTo(CurrentPage() + 1); });
    connect(m_tests, &CDriveSelfTest::RunStarted, this, [this] {
        m_selection.ResetStatus();
        m_status->Show(m_selection, m_devices->Scanned());
    });
    connect(m_tests, &CDriveSelfTest::RunChanged, this, [this] {
        SetNavigation(!m_state.Busy());
        m_status->Refresh();
    });
    connect(m_tests, &CDriveSelfTest::RunFinished, this, [this] {
        m_status->Refresh();
        m_status->ShowSummary();
        SetNavigation(true);
    });
    connect(m_status, &StatusDisplay::AbortRequested, this, &CHarrowView::AbortTest);
    GoTo(PAGE_DEVICES);
}

QWidget* CHarrowView::MakePage(int page)
{
    WizardPage* made = nullptr;
    switch (page) {
    case PAGE_FIRMWARE_FILES: made = new CFirmwareFiles(m_selection, this); break;
    case PAGE_FIRMWARE_DOWNLOAD: {
        // Built after the file page, whose choice it downloads.
        auto* files = qobject_cast<CFirmwareFiles*>(m_pages->widget(PAGE_FIRMWARE_FILES));
        made = new CFirmwareDnld(m_selection, m_state, *files, this);
        break;
    }
    case PAGE_FIRMWARE_FAQ: return new CFirmwareFAQ(this);
    case PAGE_FORMAT: made = new CFormat(m_selection, m_state, this); break;
    case PAGE_FORMAT_ONLY: made = new CFormatOnly(m_selection, m_state, this); break;
    case PAGE_STANDARD_PREFERENCES: made = new CStandardModePage(m_selection, m_state, this); break;
    case PAGE_SPECIAL_PREFERENCES: made = new CSpecialModePage(m_selection, m_state, this); break;
    case PAGE_LOG_PAGES: made = new CLogPages(m_selection, this); break;
    case PAGE_DUMP_BLOCKS: made = new CDumpBlocks(m_selection, this); break;
    case PAGE_SUPPORT: made = new CSupport(this); break;
    case PAGE_SUPPORT_RMA: made = new CSupportRMA(m_selection, this); break;
    case PAGE_LOG_FILE: made = new CLogfileView(this); break;
    default: throw std::logic_error("no wizard page " + std::to_string(page));
    }
    connect(made, &WizardPage::RunStarted, this, [this] {
        m_selection.ResetStatus();
        m_status->Show(m_selection, m_devices->Scanned());
        SetNavigation(!m_state.Busy());
    });
    connect(made, &WizardPage::RunChanged, this, [this] {
        SetNavigation(!m_state.Busy());
        m_status->Refresh();
    });
    connect(made, &WizardPage::RunFinished, this, [this] {
        m_status->Refresh();
        m_status->ShowSummary();
        SetNavigation(true);
    });
    connect(made, &WizardPage::IdentityChanged, this, [this](const DeviceRecord* record) {
        m_devices->Reprobe(*record);
        m_status->Show(m_selection, m_devices->Scanned());
    });
    connect(m_status, &StatusDisplay::AbortRequested, made, &WizardPage::AbortRun);
    return made;
}

QString CHarrowView::PageTitle(int page)
{
    switch (page) {
    case PAGE_DEVICES: return tr("Devices");
    case PAGE_DRIVE_TESTS: return tr("Drive Tests");
    case PAGE_FIRMWARE_FILES: return tr("Firmware Files");
    case PAGE_FIRMWARE_DOWNLOAD: return tr("Firmware Download");
    case PAGE_FIRMWARE_FAQ: return tr("Firmware Questions");
    case PAGE_FORMAT: return tr("Format");
    case PAGE_FORMAT_ONLY: return tr("Format Only");
    case PAGE_STANDARD_PREFERENCES: return tr("Standard Drive Preferences");
    case PAGE_SPECIAL_PREFERENCES: return tr("Special Drive Preferences");
    case PAGE_LOG_PAGES: return tr("Log Pages");
    case PAGE_DUMP_BLOCKS: return tr("Dump Blocks");
    case PAGE_SUPPORT: return tr("Support");
    case PAGE_SUPPORT_RMA: return tr("Return Material Form");
    case PAGE_LOG_FILE: return tr("Log File");
    default: return tr("Plug-in Test");
    }
}

int CHarrowView::CurrentPage() const { return m_pages->currentIndex(); }

QWidget* CHarrowView::PageWidget(int page) const { return m_pages->widget(page); }

int CHarrowView::PageCount() const { return m_pages->count(); }

void CHarrowView::GoTo(int page)
{
    if (page < 0 || page >= m_pages->count() || m_state.Busy()) {
        return;
    }
    if (CurrentPage() == PAGE_DEVICES && page != PAGE_DEVICES) {
        m_devices->BuildSelection();
        m_status->Show(m_selection, m_devices->Scanned());
    }
    m_pages->setCurrentIndex(page);
    m_title->setText(page < PAGE_COUNT ? PageTitle(page) : m_pages->currentWidget()->windowTitle());
    if (page == PAGE_DRIVE_TESTS) {
        m_tests->Enter();
    }
    if (auto* shown = qobject_cast<WizardPage*>(m_pages->currentWidget()); shown != nullptr) {
        shown->Enter();
    }
    SetNavigation(true);
    emit PageChanged(page);
}


void CHarrowView::SetNavigation(bool enabled)
{
    m_back->setEnabled(enabled && CurrentPage() > 0);
    m_next->setEnabled(enabled && CurrentPage() + 1 < m_pages->count());
    emit BusyChanged(!enabled);
}

void CHarrowView::OemCommand(OemPlugin& plugin, int commandId, HMODULE programModule)
{
    if (!plugin.Found() || m_state.Busy() || (commandId == m_oemCommand && CurrentPage() >= PAGE_COUNT)) {
        return;
    }
    if (CurrentPage() == PAGE_DEVICES) {
        m_devices->BuildSelection();
    }
    if (!AddOemDevices(plugin)) {
        return;
    }
    const std::string title = ResourceText(RES_APP_TITLE);
    const std::vector<DeviceRecord*> records = m_selection.Records();
    if (!std::all_of(records.begin(), records.end(), [](const DeviceRecord* r) { return r->isKestrel != 0; })) {
        MessageBoxA(nullptr, ResourceText(RES_OEM_MAKER_ONLY).c_str(), title.c_str(), MB_OK | MB_ICONWARNING);
        return;
    }
    if (!std::all_of(records.begin(), records.end(), [](const DeviceRecord* r) { return r->kind == KIND_PLAIN; })) {
        MessageBoxA(nullptr, ResourceText(RES_OEM_NOT_RAID).c_str(), title.c_str(), MB_OK | MB_ICONWARNING);
        return;
    }
    SetResourceModule(plugin.Module());
    plugin.createTest(commandId);
    SetResourceModule(programModule);
    m_oemCommand = commandId;
    ReplaceOemPages(plugin);
}

bool CHarrowView::AddOemDevices(OemPlugin& plugin)
{
    plugin.clearDevs();
    bool added = false;
    for (const DeviceRecord* record : m_selection.Records()) {
        if (record->target == DeviceSelection::kEndNumber || record->lun == DeviceSelection::kEndNumber) {
            continue;
        }
        plugin.addDev(record->hostAdapter, record->target, record->lun, record->channel, record->raidTarget);
        added = true;
    }
    return added;
}

void CHarrowView::ReplaceOemPages(OemPlugin& plugin)
{
    for (QWidget* page : m_oemPages) {
        m_pages->removeWidget(page);
        delete page;
    }
    m_oemPages.clear();
    const int count = plugin.numPages();
    for (int i = 0; i < count; ++i) {
        if (QWidget* page = plugin.getPage(i); page != nullptr) {
            m_pages->addWidget(page);
            m_oemPages.push_back(page);
            if (page->metaObject()->indexOfSignal("RunningChanged(bool)") >= 0) {
                connect(page, SIGNAL(RunningChanged(bool)), this, SLOT(SetOemRunning(bool)));
            }
        }
    }
    if (!m_oemPages.empty()) {
        GoTo(m_pages->indexOf(m_oemPages.front()));
    }
}

void CHarrowView::SetOemRunning(bool running)
{
    // A plug-in test is a drive test: rescans, other tests and plug-in commands wait for it.
    m_oemRunning = running ? qobject_cast<QWidget*>(sender()) : nullptr;
    m_state.activity = running ? ACTIVITY_DRIVE_TESTS : ACTIVITY_NONE;
    m_status->Refresh();
    SetNavigation(!running);
}

void CHarrowView::AbortTest()
{
    if (m_oemRunning == nullptr) {
        m_tests->AbortTest();
    } else if (m_oemRunning->metaObject()->indexOfMethod("Cancel()") >= 0) {
        QMetaObject::invokeMethod(m_oemRunning, "Cancel");
    }
}

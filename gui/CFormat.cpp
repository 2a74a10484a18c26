#include "gui/CFormat.h"

#include "frontend/DeviceQueries.h"
#include "frontend/ResourceText.h"
#include "frontend/TextFormat.h"
#include "gui/DeviceSelection.h"
#include "gui/PumpWait.h"
#include "gui/Resources.h"
#include "gui/RunState.h"
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

constexpr DWORD kCapacityPauseMs = 5000;
// The block length field of the descriptor holds three bytes.
constexpr std::uint32_t kMaxBlockSize = 0xFFFFFF;
// One more is the number of blocks, and 0xFFFFFFFF of them means the factory maximum.
constexpr std::uint32_t kMaxHighBlock = 0xFFFFFFFD;

std::uint32_t BlockSizeBytes(BlockSizeChoice choice)
{
    switch (choice) {
    case BLOCK_520: return 520;
    case BLOCK_1024: return 1024;
    default: return 512;
    }
}

void ShowBox(unsigned text, UINT type)
{
    MessageBoxA(nullptr, ResourceText(text).c_str(), ResourceText(RES_APP_TITLE).c_str(), type);
}

}  // namespace

CFormat::CFormat(DeviceSelection& selection, RunState& state, QWidget* parent)
    : WizardPage(parent), m_selection(selection), m_state(state), m_run(selection, state, this),
      m_format(new QRadioButton(tr("&Format"), this)), m_capacity(new QRadioButton(tr("Change &Capacity"), this)),
      m_blockSizeText(new QLineEdit(this)), m_typedHighBlock(new QRadioButton(tr("Highest block:"), this)),
      m_factoryMaximum(new QRadioButton(tr("Factory maximum"), this)), m_highBlockText(new QLineEdit(this)),
      m_start(new QPushButton(tr("S&tart"), this))
{
    auto* layout = new QVBoxLayout(this);
    auto* warning = new QLabel(tr("Formatting erases every block of the selected drives."), this);
    warning->setWordWrap(true);
    layout->addWidget(warning);
    m_format->setObjectName("formatOperation");
    m_capacity->setObjectName("capacityOperation");
    m_format->setChecked(true);
    layout->addWidget(m_format);

    auto* sizes = new QGroupBox(tr("Block size"), this);
    auto* sizeGrid = new QGridLayout(sizes);
    const char* names[] = {"block512", "block520", "block1024", "blockOther"};
    const QString labels[] = {"512", "520", "1024", tr("Other:")};
    auto* sizeGroup = new QButtonGroup(this);
    for (int i = 0; i < 4; ++i) {
        m_blockSizes[i] = new QRadioButton(labels[i], sizes);
        m_blockSizes[i]->setObjectName(names[i]);
        sizeGroup->addButton(m_blockSizes[i]);
        sizeGrid->addWidget(m_blockSizes[i], 0, i);
    }
    m_blockSizes[BLOCK_512]->setChecked(true);
    m_blockSizeText->setObjectName("blockSizeText");
    sizeGrid->addWidget(m_blockSizeText, 0, 4);
    layout->addWidget(sizes);

    layout->addWidget(m_capacity);
    auto* capacity = new QGroupBox(tr("Number of blocks"), this);
    auto* capacityGrid = new QGridLayout(capacity);
    auto* capacityGroup = new QButtonGroup(this);
    m_typedHighBlock->setObjectName("typedHighBlock");
    m_factoryMaximum->setObjectName("factoryMaximum");
    m_highBlockText->setObjectName("highBlockText");
    capacityGroup->addButton(m_typedHighBlock);
    capacityGroup->addButton(m_factoryMaximum);
    m_factoryMaximum->setChecked(true);
    capacityGrid->addWidget(m_typedHighBlock, 0, 0);
    capacityGrid->addWidget(m_highBlockText, 0, 1);
    capacityGrid->addWidget(m_factoryMaximum, 1, 0);
    layout->addWidget(capacity);

    m_start->setObjectName("startFormat");
    layout->addWidget(m_start, 0, Qt::AlignLeft);
    layout->addStretch(1);
    connect(m_start, &QPushButton::clicked, this, &CFormat::Start);
    connect(&m_run, &FormatRun::Changed, this, &CFormat::RunChanged);
}

void CFormat::Enter()
{
    if (!m_state.Busy()) {
        ShowCapacity();
    }
}

void CFormat::ShowCapacity()
{
    const std::vector<DeviceRecord*> records = m_selection.Records();
    if (records.empty()) {
        return;
    }
    std::uint64_t lastLba = 0;
    std::uint32_t blockLength = 0;
    if (ReadCapacity(*records.front(), lastLba, blockLength) != 0) {
        m_highBlockText->setText("Unknown");
        return;
    }
    m_highBlockText->setText(QString::fromStdString(Format("%ld", static_cast<long>(lastLba))));
    m_factoryMaximum->setChecked(true);
    const int choice = blockLength == 512    ? BLOCK_512
                       : blockLength == 520  ? BLOCK_520
                       : blockLength == 1024 ? BLOCK_1024
                                             : BLOCK_OTHER;
    m_blockSizes[choice]->setChecked(true);
    if (choice == BLOCK_OTHER) {
        m_blockSizeText->setText(QString::number(blockLength));
    }
}

std::optional<FormatRun::BlockSize> CFormat::ChosenBlockSize()
{
    FormatRun::BlockSize size;
    for (int i = 0; i < 4; ++i) {
        if (m_blockSizes[i]->isChecked()) {
            size.choice = static_cast<BlockSizeChoice>(i);
        }
    }
    if (size.choice == BLOCK_OTHER) {
        size.typed = ParsePositive(m_blockSizeText->text().toStdString(), kMaxBlockSize);
        if (size.typed == 0) {
            ShowBox(RES_BAD_BLOCK_SIZE, MB_OK | MB_ICONERROR);
            return std::nullopt;
        }
    }
    return size;
}

bool CFormat::Confirm(bool format, const std::string& what)
{
    const std::string text = ResourceText(format ? RES_FORMAT_QUESTION : RES_CAPACITY_QUESTION) + "\n\n" + what +
                             m_selection.DisksQuestion();
    if (MessageBoxA(nullptr, text.c_str(), ResourceText(RES_APP_TITLE).c_str(),
                    MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES) {
        return false;
    }
    if (format) {
        ShowBox(RES_FORMAT_NOTICE, MB_OK | MB_ICONINFORMATION);
    }
    return true;
}

void CFormat::Start()
{
    if (m_state.Busy()) {
        return;
    }
    if (m_selection.Empty()) {
        MessageBoxA(nullptr, ResourceText(RES_NO_DEVICES_TEXT).c_str(), ResourceText(RES_NO_DEVICES_CAPTION).c_str(),
                    MB_OK | MB_ICONWARNING);
        return;
    }
    const bool format = m_format->isChecked();
    std::optional<FormatRun::BlockSize> size;
    std::uint32_t highBlock = 0;  // the factory maximum
    if (format && !(size = ChosenBlockSize())) {
        return;
    }
    if (!format && m_typedHighBlock->isChecked()) {
        highBlock = ParsePositive(m_highBlockText->text().toStdString(), kMaxHighBlock);
        if (highBlock == 0) {
            ShowBox(RES_BAD_HIGH_BLOCK, MB_OK | MB_ICONERROR);
            return;
        }
    }
    std::string what;
    if (format) {
        const std::uint32_t bytes = size->choice == BLOCK_OTHER ? size->typed : BlockSizeBytes(size->choice);
        what = Format("Block size: %u bytes", static_cast<unsigned>(bytes));
    } else {
        what = highBlock == 0 ? std::string("Number of blocks: the factory maximum")
                              : Format("Highest block: %u", static_cast<unsigned>(highBlock));
    }
    if (!Confirm(format, what)) {
        return;
    }
    Begin();
    if (format) {
        m_run.Run(size);
        ShowCapacity();
    } else {
        ChangeCapacities(highBlock);
    }
    End();
}

void CFormat::ChangeCapacities(std::uint32_t highBlock)
{
    for (DeviceRecord* record : m_selection.DisksFor("Change Capacity")) {
        PublishStatus(*record, TEST_RUNNING, "Beginning Change Capacity");
        emit RunChanged();
        PumpWait(kCapacityPauseMs);
        ChangeCapacity(*record, highBlock);
        emit RunChanged();
    }
}

void CFormat::Begin()
{
    m_state.activity = ACTIVITY_FORMAT;
    m_start->setEnabled(false);
    emit RunStarted();
}

void CFormat::End()
{
    m_state.activity = ACTIVITY_NONE;
    m_start->setEnabled(true);
    emit RunFinished();
}

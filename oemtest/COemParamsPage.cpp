#include "oemtest/COemParamsPage.h"

#include "oemtest/OemTestPlan.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <limits>

namespace {

constexpr int kMaxBlocksPerXfer = 4096;
constexpr int kMaxThreads = 16;
constexpr int kMaxCmdBlocks = 16;
constexpr int kMaxSeconds = 7 * 24 * 3600;

}  // namespace

COemParamsPage::COemParamsPage(std::shared_ptr<OemTestPlan> plan, QWidget* parent)
    : QWidget(parent), m_plan(std::move(plan)), m_check(new QLabel(this))
{
    const OemCommand& command = m_plan->Command();
    setWindowTitle(tr("%1 Parameters").arg(command.name));
    auto* layout = new QVBoxLayout(this);
    auto* drives = new QLabel(this);
    QStringList names;
    for (const OemDevice& entry : m_plan->Devices()) {
        names << QString::fromStdString(entry.name);
    }
    drives->setText(tr("Drives: %1").arg(names.join(", ")));
    drives->setWordWrap(true);
    layout->addWidget(drives);
    if (command.family == OemFamily::UserCdb) {
        layout->addWidget(MakeCdbBox());
    } else {
        layout->addWidget(MakeRangeBox());
    }
    if (command.family == OemFamily::Random || command.family == OemFamily::Seek) {
        layout->addWidget(MakeLengthBox());
    }
    if (command.family != OemFamily::Seek) {
        layout->addWidget(MakeDataBox());
    }
    m_check->setObjectName("oemCheck");
    m_check->setWordWrap(true);
    layout->addWidget(m_check);
    layout->addStretch(1);
    // Widgets of other families stay unmade; Apply reads only what exists.
    Apply();
}

QSpinBox* COemParamsPage::Spin(const char* name, int low, int high, int value)
{
    auto* spin = new QSpinBox(this);
    spin->setObjectName(name);
    spin->setRange(low, high);
    spin->setValue(value);
    connect(spin, &QSpinBox::valueChanged, this, &COemParamsPage::Apply);
    return spin;
}

QWidget* COemParamsPage::MakeRangeBox()
{
    const OemParameters& p = m_plan->Parameters();
    auto* box = new QGroupBox(tr("Blocks"), this);
    auto* form = new QFormLayout(box);
    m_shareChoice = new QRadioButton(tr("Share of each drive"), box);
    m_shareChoice->setObjectName("oemShareChoice");
    m_shareChoice->setChecked(!p.useRange);
    m_share = Spin("oemShare", 1, 100, p.percentage);
    m_share->setSuffix(" %");
    form->addRow(m_shareChoice, m_share);
    m_rangeChoice = new QRadioButton(tr("Block range"), box);
    m_rangeChoice->setObjectName("oemRangeChoice");
    m_rangeChoice->setChecked(p.useRange);
    auto* range = new QHBoxLayout;
    const int most = std::numeric_limits<int>::max();
    m_startBlock = Spin("oemStartBlock", 0, most, static_cast<int>(p.startBlock));
    m_endBlock = Spin("oemEndBlock", 0, most, static_cast<int>(p.endBlock));
    range->addWidget(m_startBlock);
    range->addWidget(new QLabel(tr("to"), box));
    range->addWidget(m_endBlock);
    form->addRow(m_rangeChoice, range);
    m_blocks = Spin("oemBlocks", 1, kMaxBlocksPerXfer, static_cast<int>(p.blocksPerXfer));
    form->addRow(tr("Blocks per transfer"), m_blocks);
    m_threads = Spin("oemThreads", 1, kMaxThreads, static_cast<int>(p.threadsPerDevice));
    form->addRow(tr("Threads per drive"), m_threads);
    m_cmdBlocks = Spin("oemCmdBlocks", 1, kMaxCmdBlocks, p.cmdBlocks);
    form->addRow(tr("Commands in flight per thread"), m_cmdBlocks);
    connect(m_shareChoice, &QRadioButton::toggled, this, &COemParamsPage::Apply);
    return box;
}

QWidget* COemParamsPage::MakeLengthBox()
{
    const OemParameters& p = m_plan->Parameters();
    auto* box = new QGroupBox(tr("Length"), this);
    auto* form = new QFormLayout(box);
    m_byOperations = new QRadioButton(tr("Operations per thread"), box);
    m_byOperations->setObjectName("oemByOperations");
    m_operations = Spin("oemOperations", 2, std::numeric_limits<int>::max(), static_cast<int>(p.operations));
    form->addRow(m_byOperations, m_operations);
    m_bySeconds = new QRadioButton(tr("Time limit"), box);
    m_bySeconds->setObjectName("oemBySeconds");
    m_seconds = Spin("oemSeconds", 1, kMaxSeconds, static_cast<int>(p.seconds));
    m_seconds->setSuffix(" s");
    form->addRow(m_bySeconds, m_seconds);
    m_untilCancelled = new QRadioButton(tr("Until cancelled"), box);
    m_untilCancelled->setObjectName("oemUntilCancelled");
    form->addRow(m_untilCancelled);
    m_byOperations->setChecked(p.limit == OemLimit::Operations);
    m_bySeconds->setChecked(p.limit == OemLimit::Seconds);
    m_untilCancelled->setChecked(p.limit == OemLimit::UntilCancelled);
    for (QRadioButton* choice : {m_byOperations, m_bySeconds, m_untilCancelled}) {
        connect(choice, &QRadioButton::toggled, this, &COemParamsPage::Apply);
    }
    return box;
}

QWidget* COemParamsPage::MakeDataBox()
{
    const OemParameters& p = m_plan->Parameters();
    auto* box = new QGroupBox(tr("Data"), this);
    auto* form = new QFormLayout(box);
    m_pattern = new QComboBox(box);
    m_pattern->setObjectName("oemPattern");
    m_pattern->addItem(tr("Fixed bytes FF"), PatternOnes);
    m_pattern->addItem(tr("Fixed bytes 00"), PatternZeros);
    m_pattern->addItem(tr("Fixed bytes AA"), PatternAA);
    m_pattern->addItem(tr("Fixed bytes 55"), Pattern55);
    m_pattern->addItem(tr("Block numbers"), PatternBlockNumbers);
    m_pattern->addItem(tr("User pattern"), PatternUser);
    m_pattern->setCurrentIndex(m_pattern->findData(p.pattern));
    form->addRow(tr("Pattern"), m_pattern);
    m_userPattern = new QLineEdit(QString::fromStdString(p.userPattern), box);
    m_userPattern->setObjectName("oemUserPattern");
    m_userPattern->setPlaceholderText(tr("hexadecimal bytes, for example A5 5A 00 FF"));
    form->addRow(tr("User pattern"), m_userPattern);
    m_compare = new QCheckBox(tr("Compare the data read with the pattern"), box);
    m_compare->setObjectName("oemCompare");
    m_compare->setChecked(p.dataCompare);
    form->addRow(m_compare);
    connect(m_pattern, &QComboBox::currentIndexChanged, this, &COemParamsPage::Apply);
    connect(m_userPattern, &QLineEdit::textChanged, this, &COemParamsPage::Apply);
    connect(m_compare, &QCheckBox::toggled, this, &COemParamsPage::Apply);
    return box;
}

QWidget* COemParamsPage::MakeCdbBox()
{
    const OemParameters& p = m_plan->Parameters();
    auto* box = new QGroupBox(tr("Command"), this);
    auto* form = new QFormLayout(box);
    m_cdb = new QLineEdit(QString::fromStdString(p.cdb), box);
    m_cdb->setObjectName("oemCdb");
    m_cdb->setPlaceholderText(tr("6 to 16 hexadecimal bytes, for example 00 00 00 00 00 00"));
    form->addRow(tr("CDB"), m_cdb);
    m_direction = new QComboBox(box);
    m_direction->setObjectName("oemDirection");
    m_direction->addItem(tr("No data"), static_cast<int>(OemDirection::None));
    m_direction->addItem(tr("Data in (from the drive)"), static_cast<int>(OemDirection::In));
    m_direction->addItem(tr("Data out (to the drive, the pattern)"), static_cast<int>(OemDirection::Out));
    form->addRow(tr("Direction"), m_direction);
    m_dataLength = Spin("oemDataLength", 0, static_cast<int>(OemTestPlan::kMaxDataLength), static_cast<int>(p.dataLength));
    m_dataLength->setSuffix(tr(" bytes"));
    form->addRow(tr("Data length"), m_dataLength);
    m_threads = Spin("oemThreads", 1, kMaxThreads, static_cast<int>(p.threadsPerDevice));
    form->addRow(tr("Threads per drive"), m_threads);
    connect(m_cdb, &QLineEdit::textChanged, this, &COemParamsPage::Apply);
    connect(m_direction, &QComboBox::currentIndexChanged, this, &COemParamsPage::Apply);
    return box;
}

void COemParamsPage::Apply()
{
    OemParameters& p = m_plan->Parameters();
    if (m_share != nullptr) {
        p.useRange = m_rangeChoice->isChecked();
        p.percentage = m_share->value();
        p.startBlock = static_cast<unsigned long>(m_startBlock->value());
        p.endBlock = static_cast<unsigned long>(m_endBlock->value());
        p.blocksPerXfer = m_blocks->value();
        p.cmdBlocks = m_cmdBlocks->value();
    }
    if (m_threads != nullptr) {
        p.threadsPerDevice = m_threads->value();
    }
    if (m_operations != nullptr) {
        p.limit = m_bySeconds->isChecked()        ? OemLimit::Seconds
                  : m_untilCancelled->isChecked() ? OemLimit::UntilCancelled
                                                  : OemLimit::Operations;
        p.operations = m_operations->value();
        p.seconds = m_seconds->value();
    }
    if (m_pattern != nullptr) {
        p.pattern = static_cast<Pattern_t>(m_pattern->currentData().toInt());
        p.userPattern = m_userPattern->text().toStdString();
        p.dataCompare = m_compare->isChecked();
        m_userPattern->setEnabled(p.pattern == PatternUser);
    }
    if (m_cdb != nullptr) {
        p.cdb = m_cdb->text().toStdString();
        p.direction = static_cast<OemDirection>(m_direction->currentData().toInt());
        p.dataLength = m_dataLength->value();
    }
    const std::string problem = m_plan->Check();
    m_check->setText(problem.empty() ? tr("Ready: press Next, then Start.") : QString::fromStdString(problem));
    m_check->setStyleSheet(problem.empty() ? QString() : QString("color: #b00000;"));
}

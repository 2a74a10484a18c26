#include "gui/CFormatOnly.h"

#include "frontend/ResourceText.h"
#include "gui/DeviceSelection.h"
#include "gui/Resources.h"
#include "gui/RunState.h"
#include "platform/System.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CFormatOnly::CFormatOnly(DeviceSelection& selection, RunState& state, QWidget* parent)
    : WizardPage(parent), m_selection(selection), m_state(state), m_run(selection, state, this),
      m_start(new QPushButton(tr("S&tart Format"), this))
{
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(tr("Formats every selected drive at the block size it has now. Formatting erases "
                               "every block of the drives."),
                            this);
    text->setWordWrap(true);
    layout->addWidget(text);
    m_start->setObjectName("startFormatOnly");
    layout->addWidget(m_start, 0, Qt::AlignLeft);
    layout->addStretch(1);
    connect(m_start, &QPushButton::clicked, this, &CFormatOnly::Start);
    connect(&m_run, &FormatRun::Changed, this, &CFormatOnly::RunChanged);
}

void CFormatOnly::Start()
{
    if (m_state.Busy()) {
        return;
    }
    const std::string title = ResourceText(RES_APP_TITLE);
    if (m_selection.Empty()) {
        MessageBoxA(nullptr, ResourceText(RES_NO_DEVICES_TEXT).c_str(), ResourceText(RES_NO_DEVICES_CAPTION).c_str(),
                    MB_OK | MB_ICONWARNING);
        return;
    }
    // No is the default: the question names every drive the format erases.
    const std::string question = ResourceText(RES_FORMAT_QUESTION) + "\n\nBlock size: the one each drive has now" +
                                 m_selection.DisksQuestion();
    if (MessageBoxA(nullptr, question.c_str(), title.c_str(), MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES) {
        return;
    }
    MessageBoxA(nullptr, ResourceText(RES_FORMAT_NOTICE).c_str(), title.c_str(), MB_OK | MB_ICONINFORMATION);
    m_state.activity = ACTIVITY_FORMAT;
    m_start->setEnabled(false);
    emit RunStarted();
    m_run.Run(std::nullopt);
    m_state.activity = ACTIVITY_NONE;
    m_start->setEnabled(true);
    emit RunFinished();
}

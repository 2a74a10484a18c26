#include "gui/CLogfileView.h"

#include "frontend/LineLog.h"
#include "frontend/ResourceText.h"
#include "gui/Resources.h"
#include "platform/System.h"

#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QPushButton>
#include <QVBoxLayout>

CLogfileView::CLogfileView(QWidget* parent)
    : WizardPage(parent), m_name(new QLabel(this)), m_text(new QPlainTextEdit(this))
{
    m_name->setObjectName("logFileName");
    m_text->setObjectName("logText");
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* openAny = new QPushButton(tr("&Open Log File..."), this);
    auto* openLog = new QPushButton(tr("Open &.log File..."), this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_name);
    layout->addWidget(m_text, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(openAny);
    buttons->addWidget(openLog);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    connect(openAny, &QPushButton::clicked, this,
            [this] { Pick(tr("Log Files (*.log);;Serial Number Log Files (*.txt)")); });
    connect(openLog, &QPushButton::clicked, this, [this] { Pick(tr("Log Files (*.log)")); });
}

void CLogfileView::Enter()
{
    const QString runLog = m_shown.isEmpty() ? QString::fromStdString(GetLogSettings().logFileName) : m_shown;
    if (!runLog.isEmpty()) {
        Open(runLog);
    }
}

void CLogfileView::Pick(const QString& filter)
{
    const QString file = QFileDialog::getOpenFileName(this, tr("Open"), QString(), filter);
    if (!file.isEmpty()) {
        Open(file);
    }
}

bool CLogfileView::Open(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        const std::string text = "The file " + fileName.toStdString() + " could not be opened: " +
                                 file.errorString().toStdString();
        MessageBoxA(nullptr, text.c_str(), ResourceText(RES_APP_TITLE).c_str(), MB_OK | MB_ICONERROR);
        return false;
    }
    m_text->setPlainText(QString::fromLocal8Bit(file.readAll()));
    // The newest lines are at the end, and they are what the user came for.
    m_text->moveCursor(QTextCursor::End);
    m_text->ensureCursorVisible();
    m_shown = fileName;
    m_name->setText(fileName);
    return true;
}

#pragma once

#include "gui/WizardPage.h"

class QLabel;
class QPlainTextEdit;

// Shows a log file, read-only: the run's log when the page opens, or an
// earlier log or a drive's own file that the user picks.
class CLogfileView : public WizardPage {
    Q_OBJECT
public:
    explicit CLogfileView(QWidget* parent = nullptr);

    void Enter() override;
    // Shows the file; false (and the shown file kept) when it cannot be read.
    bool Open(const QString& fileName);
    QString Shown() const { return m_shown; }

private:
    void Pick(const QString& filter);

    QString m_shown;
    QLabel* m_name;
    QPlainTextEdit* m_text;
};

#pragma once

#include "frontend/DeviceRecord.h"

#include <QWidget>

// A wizard page that reads its drives when shown and may run work on them,
// which the view follows in the status display.
class WizardPage : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    // Called each time the page is shown.
    virtual void Enter();
    // The status display's Abort; only a page whose run is going acts on it.
    virtual void AbortRun();
    // True while the page still reads what it shows from a drive.
    virtual bool Reading() const { return false; }

signals:
    void RunStarted();
    void RunChanged();
    void RunFinished();
    // The drive may now answer with another identity (new firmware): read it again.
    void IdentityChanged(const DeviceRecord* record);
};

// The installer's three dialogs. Each opens centred on the desktop.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

class CenteredDialog : public QDialog {
protected:
    void showEvent(QShowEvent* event) override;
};

// Dialog 101: shown without buttons while the files are copied.
class CUpdatingDialog final : public CenteredDialog {
public:
    CUpdatingDialog();
};

// Dialog 102: the installation is done; ends with 1 on OK.
class CCompleteDialog final : public CenteredDialog {
public:
    CCompleteDialog();
    QPushButton* OkButton() const { return m_Ok; }

private:
    QPushButton* m_Ok;
};

// Dialog 103: the versions and the question; ends with 1 for control 1
// (install) and 0 for control 2.
class CInstallDialog final : public CenteredDialog {
public:
    static constexpr int kVersionsId = 1000;

    CInstallDialog();
    void SetVersions(const QString& text);
    QPushButton* InstallButton() const { return m_Install; }
    QPushButton* DeclineButton() const { return m_Decline; }

private:
    QLabel* m_Versions;
    QPushButton* m_Install;
    QPushButton* m_Decline;
};

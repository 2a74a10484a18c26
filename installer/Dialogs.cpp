#include "installer/Dialogs.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

void CenteredDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, frameGeometry().size(), screen->availableGeometry()).topLeft());
    }
}

CUpdatingDialog::CUpdatingDialog()
{
    setWindowTitle("ASPI Installer");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Updating ASPI layer..."));
    setModal(false);
}

CCompleteDialog::CCompleteDialog() : m_Ok(new QPushButton("&OK"))
{
    setWindowTitle("Complete");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("ASPI has been installed on your system"));
    layout->addWidget(new QLabel("Your system will need to be rebooted for the changed to take affect"));
    layout->addWidget(m_Ok, 0, Qt::AlignHCenter);
    m_Ok->setDefault(true);
    connect(m_Ok, &QPushButton::clicked, this, [this] { done(1); });
}

CInstallDialog::CInstallDialog()
    : m_Versions(new QLabel), m_Install(new QPushButton("Install  this ASPI now ")),
      m_Decline(new QPushButton("Do NOT Install this ASPI"))
{
    setWindowTitle("Orb Installer");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel("This program requires ASPI drivers to be installed.\n\n Do you want to install this version of ASPI now?"));
    m_Versions->setObjectName(QString::number(kVersionsId));
    layout->addWidget(m_Versions);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_Install);
    buttons->addWidget(m_Decline);
    layout->addLayout(buttons);
    m_Install->setDefault(true);
    connect(m_Install, &QPushButton::clicked, this, [this] { done(1); });
    connect(m_Decline, &QPushButton::clicked, this, [this] { done(0); });
}

void CInstallDialog::SetVersions(const QString& text) { m_Versions->setText(text); }

#include "gui/CHarrowApp.h"

#include "core/system/CComputerSystem.h"
#include "frontend/CommandRoutine.h"
#include "frontend/ResourceText.h"
#include "gui/CHarrowView.h"
#include "gui/CMainFrame.h"
#include "gui/CRescanIdentPg.h"
#include "gui/GuiLog.h"
#include "gui/LogFolder.h"
#include "gui/Profile.h"
#include "gui/Resources.h"
#include "gui/SingleInstance.h"
#include "platform/Library.h"
#include "platform/System.h"

#include <QApplication>
#include <QMessageBox>
#include <QPainter>
#include <QSplashScreen>
#include <QThread>
#include <QTimer>

#include <cstdint>
#include <vector>

namespace {

constexpr std::uintptr_t kFirstValidModule = 32;
constexpr UINT kMbTypeMask = 0x0000000F;
constexpr UINT kMbIconMask = 0x000000F0;
constexpr int kSplashMs = 1500;
constexpr const char* kVersionValue = "\\StringFileInfo\\040904B0\\FileVersion";

QMessageBox::Icon IconOf(UINT type)
{
    switch (type & kMbIconMask) {
    case MB_ICONERROR: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONWARNING: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

int ShowMessageBox(const char* text, const char* caption, UINT type)
{
    // A box asked for by a scan or a drive's thread is shown by the window's thread.
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
        int answer = IDOK;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&] { answer = ShowMessageBox(text, caption, type); },
            Qt::BlockingQueuedConnection);
        return answer;
    }
    const bool yesNo = (type & kMbTypeMask) == MB_YESNO;
    QMessageBox box(IconOf(type), QString::fromUtf8(caption), QString::fromUtf8(text),
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, QApplication::activeWindow());
    if (yesNo) {
        box.setDefaultButton((type & MB_DEFBUTTON2) != 0 ? QMessageBox::No : QMessageBox::Yes);
    }
    const int answer = box.exec();
    if (!yesNo) {
        return IDOK;
    }
    return answer == QMessageBox::Yes ? IDYES : IDNO;
}

// Waits of the core that pump messages keep the window drawn, on its own thread only.
int PumpWindowMessages(int maxMessages)
{
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
        return 0;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, maxMessages);
    return 0;
}

std::string OwnVersion()
{
    char path[4096];
    if (GetModuleFileNameA(nullptr, path, sizeof path) == 0) {
        return "Version Unknown";
    }
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &handle);
    std::vector<char> info(size);
    void* value = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoA(path, handle, size, info.data()) ||
        !VerQueryValueA(info.data(), kVersionValue, &value, &length) || value == nullptr) {
        return "Version Unknown";
    }
    return static_cast<const char*>(value);
}

QPixmap SplashPicture(const QString& title, const QString& version)
{
    QPixmap picture(460, 220);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.fillRect(0, 0, picture.width(), 56, QColor(0x1f, 0x3a, 0x5f));
    QFont font = painter.font();
    font.setPointSize(20);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(20, 0, 420, 56), Qt::AlignVCenter, title);
    font.setPointSize(11);
    font.setBold(false);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(20, 76, 420, 24), Qt::AlignLeft, QObject::tr("SCSI disk drive diagnostic"));
    painter.drawText(QRect(20, 104, 420, 24), Qt::AlignLeft, version);
    painter.drawText(QRect(20, 180, 420, 24), Qt::AlignLeft, QObject::tr("Scanning for devices..."));
    return picture;
}

}  // namespace

CHarrowApp::CHarrowApp() = default;

CHarrowApp::~CHarrowApp()
{
    if (!m_started) {
        if (m_resources != nullptr) {
            SetResourceModule(nullptr);
            FreeLibrary(m_resources);
        }
        return;
    }
    LogStamped("Exiting Harrow Viraradiza diagnostic");
    m_splash.reset();
    m_frame.reset();
    harrow::platform::SetMessagePump(nullptr);
    harrow::platform::SetMessageBoxHandler(nullptr);
    SetResourceModule(nullptr);
    FreeLibrary(m_resources);
    CComputerSystem::Destroy();
}

bool CHarrowApp::LoadResources()
{
    HMODULE module = LoadLibraryA("RESDLL.DLL");
    if (reinterpret_cast<std::uintptr_t>(module) < kFirstValidModule) {
        return false;
    }
    m_resources = module;
    SetResourceModule(module);
    return true;
}

CHarrowApp::StartResult CHarrowApp::Start()
{
    // Without its resource library the program has no texts to say anything with.
    if (!LoadResources()) {
        return StartResult::Failed;
    }
    m_instance = std::make_unique<SingleInstance>();
    if (m_instance->ActivateRunning()) {
        return StartResult::SecondInstance;
    }
    m_instance->Listen();
    harrow::platform::SetMessageBoxHandler(ShowMessageBox);
    if (CComputerSystem::Instance() == nullptr) {
        MessageBoxA(nullptr, "Device tree is not initialized", ResourceText(RES_APP_TITLE).c_str(),
                    MB_OK | MB_ICONERROR);
        return StartResult::Failed;
    }
    const std::string product = ResourceText(RES_GUI_PRODUCT_NAME);
    CComputerSystem::RegisterProductRunning(product.c_str());
    SharedBuffer();
    GetLogSettings().logFileName = InLogFolder(ResourceText(RES_GUI_LOG_FILE_NAME));
    GetLogSettings().windowed = true;
    m_started = true;
    LogStamped("Harrow Viraradiza diagnostic");
    harrow::platform::SetMessagePump(PumpWindowMessages);

    QApplication::setApplicationVersion(QString::fromStdString("Version " + OwnVersion()));
    m_frame = std::make_unique<CMainFrame>(product, m_resources);
    QObject::connect(m_instance.get(), &SingleInstance::ActivationRequested, m_frame.get(),
                     &CMainFrame::BringToFront);
    if (profile::ReadNumber("Options", "splash", 1) != 0) {
        ShowSplash();
    }
    m_frame->show();
    // The window is drawn first; the device page then scans the machine.
    QTimer::singleShot(0, m_frame.get(), [frame = m_frame.get()] { frame->View()->DevicePage()->Scan(); });
    return StartResult::Started;
}

void CHarrowApp::ShowSplash()
{
    m_splash = std::make_unique<QSplashScreen>(
        SplashPicture(QString::fromStdString(ResourceText(RES_APP_TITLE)), QApplication::applicationVersion()));
    m_splash->show();
    QTimer::singleShot(kSplashMs, m_splash.get(), &QWidget::close);
}

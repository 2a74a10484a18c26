#include "gui/CMainFrame.h"

#include "frontend/ResourceText.h"
#include "gui/CDriveSelfTest.h"
#include "gui/CHarrowView.h"
#include "gui/CHyperLink.h"
#include "gui/CRescanIdentPg.h"
#include "gui/GuiLog.h"
#include "gui/Profile.h"
#include "gui/Resources.h"
#include "platform/System.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

// A menu bar of exactly this many items takes the Advanced menu at its fifth place.
constexpr int kStandardMenuItems = 6;
constexpr int kMinimumWidth = 800;
constexpr int kMinimumHeight = 560;
constexpr int kAdvancedMenuPlace = 4;

void ShowAbout(QWidget* parent)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QObject::tr("About Harrow"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QString::fromStdString(ResourceText(RES_APP_TITLE)), &dialog));
    layout->addWidget(new QLabel(QApplication::applicationVersion(), &dialog));
    const QString log = QFileInfo(QString::fromStdString(GetLogSettings().logFileName)).absoluteFilePath();
    layout->addWidget(new CHyperLink(QObject::tr("Open the log file"), log, &dialog));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
    dialog.exec();
}

}  // namespace

CMainFrame::CMainFrame(const std::string& productName, HMODULE programModule, QWidget* parent)
    : QMainWindow(parent), m_programModule(programModule), m_view(new CHarrowView(productName, this))
{
    setObjectName("HarrowMainWindow");
    setWindowTitle(QString::fromStdString(ResourceText(RES_APP_TITLE)));
    setCentralWidget(m_view);
    CreateMenus();
    CreateToolbars();
    // Created with the advanced toolbar showing; every run starts in standard mode.
    m_advancedBar->show();
    menuBar()->insertMenu(menuBar()->actions().last(), m_advancedMenu);
    SetMode(false);
    InstallOemMenu();
    statusBar()->showMessage(tr("Ready"));
    connect(m_view, &CHarrowView::BusyChanged, this, &CMainFrame::UpdateCommands);
    connect(m_view, &CHarrowView::PageChanged, this, &CMainFrame::UpdateCommands);
    UpdateCommands();
    // Resizable, and small enough for a 1024x768 screen with its panel.
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(1280, 720);
}

QAction* CMainFrame::PageAction(int page, const QIcon& icon)
{
    auto* action = new QAction(icon, CHarrowView::PageTitle(page), this);
    action->setStatusTip(tr("Go to the %1 page").arg(CHarrowView::PageTitle(page)));
    connect(action, &QAction::triggered, this, [this, page] { m_view->GoTo(page); });
    m_idleOnly.append(action);
    return action;
}

void CMainFrame::CreateMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("E&xit"), this, &QWidget::close);

    QMenu* view = menuBar()->addMenu(tr("&View"));
    QAction* advanced = view->addAction(tr("&Advanced Mode"), this, &CMainFrame::ToggleAdvancedMode);
    advanced->setObjectName("advancedModeAction");

    QMenu* go = menuBar()->addMenu(tr("&Go"));
    for (int page = CHarrowView::PAGE_DEVICES; page <= CHarrowView::PAGE_DRIVE_TESTS; ++page) {
        go->addAction(PageAction(page, QIcon()));
    }
    for (int page = CHarrowView::PAGE_SUPPORT; page < CHarrowView::PAGE_COUNT; ++page) {
        go->addAction(PageAction(page, QIcon()));
    }

    QMenu* test = menuBar()->addMenu(tr("&Test"));
    QAction* start = test->addAction(tr("&Start Test"), this, [this] {
        m_view->GoTo(CHarrowView::PAGE_DRIVE_TESTS);
        m_view->DriveTestPage()->StartTest();
    });
    m_idleOnly.append(start);
    m_abortAction = test->addAction(tr("&Abort Test"), this, [this] { m_view->AbortTest(); });

    QMenu* tools = menuBar()->addMenu(tr("T&ools"));
    QAction* rescan = tools->addAction(tr("&Rescan Devices"), this, [this] {
        m_view->GoTo(CHarrowView::PAGE_DEVICES);
        m_view->DevicePage()->Scan();
    });
    m_idleOnly.append(rescan);

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(tr("&About Harrow..."), this, [this] { ShowAbout(this); });

    m_advancedMenu = new QMenu(tr("&Advanced"), this);
    m_advancedMenu->setObjectName("advancedMenu");
    for (int page = CHarrowView::PAGE_FIRMWARE_FILES; page < CHarrowView::PAGE_SUPPORT; ++page) {
        m_advancedMenu->addAction(PageAction(page, QIcon()));
    }
}

void CMainFrame::CreateToolbars()
{
    QStyle* s = style();
    m_standardBar = addToolBar(tr("Standard"));
    m_standardBar->setObjectName("standardToolbar");
    m_standardBar->setProperty("controlId", kStandardToolbarId);
    m_standardBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_standardBar->setMovable(false);
    m_standardBar->addAction(PageAction(CHarrowView::PAGE_DEVICES, s->standardIcon(QStyle::SP_DriveHDIcon)));
    m_standardBar->addAction(PageAction(CHarrowView::PAGE_DRIVE_TESTS, s->standardIcon(QStyle::SP_DialogApplyButton)));
    QAction* start = m_standardBar->addAction(s->standardIcon(QStyle::SP_MediaPlay), tr("Start"), this, [this] {
        m_view->GoTo(CHarrowView::PAGE_DRIVE_TESTS);
        m_view->DriveTestPage()->StartTest();
    });
    m_idleOnly.append(start);
    m_abortAction->setIcon(s->standardIcon(QStyle::SP_MediaStop));
    m_standardBar->addAction(m_abortAction);
    // The fifth and sixth buttons choose the test length, one of the two.
    m_lengthGroup = new QActionGroup(this);
    QAction* shortTest = m_standardBar->addAction(s->standardIcon(QStyle::SP_MediaSeekForward), tr("Short"));
    QAction* longTest = m_standardBar->addAction(s->standardIcon(QStyle::SP_MediaSkipForward), tr("Long"));
    for (QAction* length : {shortTest, longTest}) {
        length->setCheckable(true);
        m_lengthGroup->addAction(length);
        m_idleOnly.append(length);
    }
    shortTest->setChecked(true);
    connect(longTest, &QAction::toggled, this, [this](bool on) { m_view->DriveTestPage()->SetLongTest(on); });
    // The page's own choice shows on the toolbar too.
    connect(m_view->DriveTestPage(), &CDriveSelfTest::LengthChanged, this,
            [shortTest, longTest](bool isLong) { (isLong ? longTest : shortTest)->setChecked(true); });
    m_standardBar->addSeparator();
    m_standardBar->addAction(s->standardIcon(QStyle::SP_MessageBoxWarning), tr("Advanced"), this,
                             &CMainFrame::ToggleAdvancedMode);

    m_advancedBar = addToolBar(tr("Advanced"));
    m_advancedBar->setObjectName("advancedToolbar");
    m_advancedBar->setProperty("controlId", kAdvancedToolbarId);
    m_advancedBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_advancedBar->setMovable(false);
    m_advancedBar->addAction(PageAction(CHarrowView::PAGE_DEVICES, s->standardIcon(QStyle::SP_DriveHDIcon)));
    m_advancedBar->addAction(PageAction(CHarrowView::PAGE_DRIVE_TESTS, s->standardIcon(QStyle::SP_DialogApplyButton)));
    m_advancedBar->addAction(PageAction(CHarrowView::PAGE_FIRMWARE_FILES, s->standardIcon(QStyle::SP_ArrowDown)));
    m_advancedBar->addAction(PageAction(CHarrowView::PAGE_FORMAT, s->standardIcon(QStyle::SP_DriveFDIcon)));
    m_advancedBar->addAction(
        PageAction(CHarrowView::PAGE_STANDARD_PREFERENCES, s->standardIcon(QStyle::SP_FileDialogDetailedView)));
    m_advancedBar->addAction(PageAction(CHarrowView::PAGE_LOG_PAGES, s->standardIcon(QStyle::SP_FileDialogInfoView)));
    m_advancedBar->addAction(PageAction(CHarrowView::PAGE_SUPPORT, s->standardIcon(QStyle::SP_DialogHelpButton)));
    m_advancedBar->addSeparator();
    m_advancedBar->addAction(s->standardIcon(QStyle::SP_DialogCloseButton), tr("Standard"), this,
                             &CMainFrame::ToggleAdvancedMode);
}

bool CMainFrame::AdvancedMode() const { return !m_advancedBar->isHidden(); }

void CMainFrame::ToggleAdvancedMode()
{
    const bool entering = !AdvancedMode();
    if (entering) {
        const int answer = MessageBoxA(nullptr, ResourceText(RES_ADVANCED_QUESTION).c_str(),
                                       ResourceText(RES_APP_TITLE).c_str(), MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
        if (answer != IDYES) {
            LogStamped("Not entering Advanced diagnostic section");
            return;
        }
        LogStamped("Entering Advanced diagnostic section");
    }
    SetMode(entering);
}

void CMainFrame::SetMode(bool advanced)
{
    // The bar shown takes the other's place at the left of the row.
    QToolBar* shown = advanced ? m_advancedBar : m_standardBar;
    removeToolBar(advanced ? m_standardBar : m_advancedBar);
    addToolBar(Qt::TopToolBarArea, shown);
    shown->show();
    const QList<QAction*> items = menuBar()->actions();
    if (advanced) {
        QAction* before = items.size() == kStandardMenuItems ? items[kAdvancedMenuPlace] : items.last();
        menuBar()->insertMenu(before, m_advancedMenu);
    } else {
        // Wherever it stands: at creation it went in before the last item.
        menuBar()->removeAction(m_advancedMenu->menuAction());
    }
    menuBar()->update();
}

void CMainFrame::InstallOemMenu()
{
    m_plugin.Load();
    if (!m_plugin.Found()) {
        return;
    }
    QMenu* menu = m_plugin.getMenu();
    if (menu == nullptr) {
        return;
    }
    const QString name = m_plugin.getMenuName();
    QMenu* popup = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->menu() != nullptr) {
            popup = action->menu();
            break;
        }
    }
    if (name.isEmpty() || popup == nullptr) {
        return;
    }
    popup->setTitle(name);
    popup->setObjectName("oemMenu");
    menuBar()->insertMenu(menuBar()->actions().last(), popup);
    connect(popup, &QMenu::triggered, this, [this](QAction* action) {
        bool number = false;
        const int id = action->data().toInt(&number);
        if (number) {
            OnCommand(id);
        }
    });
    menuBar()->update();
}

void CMainFrame::OnCommand(int commandId)
{
    if (commandId >= OemPlugin::kFirstCommand && commandId <= OemPlugin::kLastCommand) {
        m_view->OemCommand(m_plugin, commandId, m_programModule);
    }
}

void CMainFrame::CloseWhenSafe()
{
    m_closeWhenSafe = true;
    close();
}

void CMainFrame::UpdateCommands()
{
    const bool busy = m_view->State().Busy();
    if (m_closeWhenSafe && (!busy || m_view->State().Abortable())) {
        // The signal that asked for the end was kept until the drives were safe.
        QTimer::singleShot(0, this, &QWidget::close);
    }
    for (QAction* action : m_idleOnly) {
        action->setEnabled(!busy);
    }
    m_abortAction->setEnabled(m_view->State().Abortable());
    statusBar()->showMessage(busy ? tr("Testing...") : tr("Ready"));
}

void CMainFrame::BringToFront()
{
    QWidget* top = QApplication::activeModalWidget() != nullptr ? QApplication::activeModalWidget() : this;
    if (isMinimized()) {
        showNormal();
    }
    setEnabled(true);
    top->raise();
    top->activateWindow();
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // A drive left in the middle of a download or a format may not start again.
    if (m_view->State().Busy() && !m_view->State().Abortable()) {
        event->ignore();
        const char* text = m_closeWhenSafe
                               ? "A firmware download or a format is running. Harrow closes as soon as it has "
                                 "finished."
                               : "A firmware download or a format is running. Closing now could leave a drive "
                                 "that does not start again; Harrow can be closed when it has finished.";
        if (!m_closeWhenSafe || !m_toldWhenSafe) {
            m_toldWhenSafe = m_closeWhenSafe;
            statusBar()->showMessage(QString::fromUtf8(text));
            LogStamped(text);
            if (!m_closeWhenSafe) {
                MessageBoxA(nullptr, text, ResourceText(RES_APP_TITLE).c_str(), MB_OK | MB_ICONWARNING);
            }
        }
        return;
    }
    // Host tests end with their threads; the drives' own self tests are stopped.
    m_view->DriveTestPage()->AbortTest();
    profile::WriteNumber("Display", "AdvMode", AdvancedMode() ? 1 : 0);
    QMainWindow::closeEvent(event);
}

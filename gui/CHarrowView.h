#pragma once

#include "gui/DeviceSelection.h"
#include "gui/RunState.h"
#include "platform/WinTypes.h"

#include <QWidget>

#include <vector>

class CDriveSelfTest;
class CRescanIdentPg;
class OemPlugin;
class QLabel;
class QPushButton;
class QStackedWidget;
class StatusDisplay;

// The main view: the wizard of pages beside the status display.
class CHarrowView : public QWidget {
    Q_OBJECT
public:
    enum Page {
        PAGE_DEVICES,
        PAGE_DRIVE_TESTS,
        PAGE_FIRMWARE_FILES,
        PAGE_FIRMWARE_DOWNLOAD,
        PAGE_FIRMWARE_FAQ,
        PAGE_FORMAT,
        PAGE_FORMAT_ONLY,
        PAGE_STANDARD_PREFERENCES,
        PAGE_SPECIAL_PREFERENCES,
        PAGE_LOG_PAGES,
        PAGE_DUMP_BLOCKS,
        PAGE_SUPPORT,
        PAGE_SUPPORT_RMA,
        PAGE_LOG_FILE,
        PAGE_COUNT,
    };

    CHarrowView(const std::string& productName, QWidget* parent = nullptr);

    static QString PageTitle(int page);
    void GoTo(int page);
    int CurrentPage() const;
    int PageCount() const;
    // A plug-in menu command (50000 to 50200).
    void OemCommand(OemPlugin& plugin, int commandId, HMODULE programModule);
    // The user's abort: the drive tests, or the plug-in's running test.
    void AbortTest();

    RunState& State() { return m_state; }
    DeviceSelection& Selection() { return m_selection; }
    CRescanIdentPg* DevicePage() const { return m_devices; }
    CDriveSelfTest* DriveTestPage() const { return m_tests; }
    QWidget* PageWidget(int page) const;
    StatusDisplay* Status() const { return m_status; }

signals:
    void PageChanged(int page);
    void BusyChanged(bool busy);

private slots:
    // A plug-in page that reports a running test holds the program's commands.
    void SetOemRunning(bool running);

private:
    // The page's widget; pages with runs report them to the status display.
    QWidget* MakePage(int page);
    void SetNavigation(bool enabled);
    // Status and navigation follow a page's long run.
    bool AddOemDevices(OemPlugin& plugin);
    void ReplaceOemPages(OemPlugin& plugin);

    RunState m_state;
    DeviceSelection m_selection;
    QLabel* m_title;
    QStackedWidget* m_pages;
    QPushButton* m_back;
    QPushButton* m_next;
    CRescanIdentPg* m_devices;
    CDriveSelfTest* m_tests;
    StatusDisplay* m_status;
    std::vector<QWidget*> m_oemPages;
    // The plug-in page whose test runs, if any.
    QWidget* m_oemRunning = nullptr;
    int m_oemCommand = 0;
};

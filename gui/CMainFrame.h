#pragma once

#include "gui/OemPlugin.h"

#include <QMainWindow>

class CHarrowView;
class QActionGroup;
class QMenu;
class QToolBar;

// The main window: the view, the standard and advanced toolbars, the
// "&Advanced" menu of the Advanced mode and the OEM plug-in's menu.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kStandardToolbarId = 32810;
    static constexpr int kAdvancedToolbarId = 32811;

    CMainFrame(const std::string& productName, HMODULE programModule, QWidget* parent = nullptr);

    CHarrowView* View() const { return m_view; }
    QToolBar* StandardToolbar() const { return m_standardBar; }
    QToolBar* AdvancedToolbar() const { return m_advancedBar; }
    QMenu* AdvancedMenu() const { return m_advancedMenu; }
    bool AdvancedMode() const;
    const OemPlugin& Plugin() const { return m_plugin; }

    // Asks before entering, logs the answer, and switches toolbars and menu bar.
    void ToggleAdvancedMode();
    // Closes now, or as soon as no download or format runs (a termination signal).
    void CloseWhenSafe();
    // A second start of the program asked for this window.
    void BringToFront();
    // Menu and toolbar commands of the plug-in's range reach the view here.
    void OnCommand(int commandId);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateMenus();
    void CreateToolbars();
    QAction* PageAction(int page, const QIcon& icon);
    void SetMode(bool advanced);
    void InstallOemMenu();
    void UpdateCommands();

    HMODULE m_programModule;
    CHarrowView* m_view;
    QToolBar* m_standardBar = nullptr;
    QToolBar* m_advancedBar = nullptr;
    QMenu* m_advancedMenu = nullptr;
    QActionGroup* m_lengthGroup = nullptr;
    QList<QAction*> m_idleOnly;
    QAction* m_abortAction = nullptr;
    OemPlugin m_plugin;
    bool m_closeWhenSafe = false;
    bool m_toldWhenSafe = false;
};

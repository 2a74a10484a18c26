#pragma once

#include "platform/WinTypes.h"

#include <QString>

class QMenu;
class QWidget;

// The optional test plug-in "OEMTest.DLL" and its seven C-linkage exports
// (docs/oem-plugin.md). Loaded once per frame and never unloaded while the
// program runs: its menu and pages live in the program's windows.
class OemPlugin {
public:
    using GetMenuFn = QMenu* (*)();
    using GetMenuNameFn = QString (*)();
    using ClearDevsFn = void (*)();
    using AddDevFn = void (*)(int hostAdapter, int target, int lun, int channel, int raidTarget);
    using CreateTestFn = void (*)(int commandId);
    using NumPagesFn = int (*)();
    using GetPageFn = QWidget* (*)(int index);

    static constexpr int kFirstCommand = 50000;
    static constexpr int kLastCommand = 50200;

    // Loads the plug-in; Found() says whether all seven exports are there.
    void Load();
    bool Found() const { return m_found; }
    HMODULE Module() const { return m_module; }

    GetMenuFn getMenu = nullptr;
    GetMenuNameFn getMenuName = nullptr;
    ClearDevsFn clearDevs = nullptr;
    AddDevFn addDev = nullptr;
    CreateTestFn createTest = nullptr;
    NumPagesFn numPages = nullptr;
    GetPageFn getPage = nullptr;

private:
    HMODULE m_module = nullptr;
    bool m_found = false;
};

#pragma once

#include "platform/WinTypes.h"

#include <memory>
#include <string>

class CMainFrame;
class SingleInstance;
class QSplashScreen;

// The application object: resource library, single instance, computer
// system registration, log lines at start and exit, profile, splash, frame.
class CHarrowApp {
public:
    enum class StartResult { Started, SecondInstance, Failed };

    CHarrowApp();
    CHarrowApp(const CHarrowApp&) = delete;
    CHarrowApp& operator=(const CHarrowApp&) = delete;
    // The exit steps, unless this run ended as a second instance.
    ~CHarrowApp();

    StartResult Start();
    CMainFrame* Frame() const { return m_frame.get(); }

private:
    bool LoadResources();
    void ShowSplash();

    HMODULE m_resources = nullptr;
    bool m_started = false;
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<CMainFrame> m_frame;
    std::unique_ptr<QSplashScreen> m_splash;
};

#pragma once

#include "support/FileText.h"
#include "support/TestHome.h"

#include <filesystem>
#include <string>

// A fresh test home per test, removed afterwards.
class TempFolder {
public:
    explicit TempFolder(const std::string& name) : m_Path(test_support::MakeTestHome(name)) {}
    ~TempFolder() { std::filesystem::remove_all(m_Path); }

    std::string File(const std::string& name) const { return (m_Path / name).string(); }
    const std::filesystem::path& Path() const { return m_Path; }

private:
    std::filesystem::path m_Path;
};

using test_support::ReadText;

// A sysfs and /dev tree in a temporary folder, shaped like the kernel's.
#pragma once

#include "support/FileText.h"
#include "support/TestHome.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace harrow::machine::testing {

namespace fs = std::filesystem;

inline const std::string kKestrelNames = "KESTREL \nKX18LVD         \nK100";

// Written in full, in this order, at each use.
struct FakeUnit {
    int type;
    std::string names;    // vendor, model and rev attributes, one a line
    std::string driver;   // bound driver, e.g. "sd"; empty: none
    std::string sg;       // "sg0"; empty: no sg node
    std::string inquiry;  // the kernel's binary copy; empty: none
};

class FakeSysfs {
public:
    FakeSysfs()
    {
        m_root = test_support::MakeTestHome("sysfs");
        fs::create_directories(Sys() / "bus" / "scsi" / "devices");
        fs::create_directories(Dev());
    }
    ~FakeSysfs() { fs::remove_all(m_root); }

    fs::path Sys() const { return m_root / "sys"; }
    fs::path Dev() const { return m_root / "dev"; }
    fs::path HostDir(int host) const { return Sys() / "class" / "scsi_host" / ("host" + std::to_string(host)); }

    // A parallel SCSI host also has an spi_host entry.
    void AddHost(int host, const std::string& procName, bool parallelScsi = false)
    {
        fs::create_directories(HostDir(host));
        Write(HostDir(host) / "proc_name", procName + "\n");
        Write(HostDir(host) / "scan", "");
        if (parallelScsi) {
            fs::create_directories(Sys() / "class" / "spi_host" / ("host" + std::to_string(host)));
        }
    }

    // Units live under /sys/devices and are linked from /sys/bus/scsi/devices.
    void AddUnit(const std::string& hctl, const FakeUnit& unit)
    {
        const fs::path dir = Sys() / "devices" / hctl;
        fs::create_directories(dir);
        Write(dir / "type", std::to_string(unit.type) + "\n");
        const auto rev = unit.names.rfind('\n');
        const auto model = unit.names.find('\n');
        Write(dir / "vendor", unit.names.substr(0, model + 1));
        Write(dir / "model", unit.names.substr(model + 1, rev - model));
        Write(dir / "rev", unit.names.substr(rev + 1) + "\n");
        if (!unit.inquiry.empty()) {
            Write(dir / "inquiry", unit.inquiry);
        }
        if (!unit.driver.empty()) {
            fs::create_directory_symlink("../../bus/scsi/drivers/" + unit.driver, dir / "driver");
        }
        if (!unit.sg.empty()) {
            fs::create_directories(dir / "scsi_generic" / unit.sg);
        }
        fs::create_directory_symlink(dir, Sys() / "bus" / "scsi" / "devices" / hctl);
    }

    static void Write(const fs::path& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }

private:
    fs::path m_root;
};

}  // namespace harrow::machine::testing

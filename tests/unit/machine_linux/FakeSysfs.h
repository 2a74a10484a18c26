// A sysfs and /dev tree in a temporary folder, shaped like the kernel's.
#pragma once

#include "machine/linux/SgIo.h"
#include "support/FileText.h"
#include "support/TestHome.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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

// SG_IO without the kernel: every command goes to `send` with the node it was
// opened on. Descriptors are never reused, so a command on a closed one shows.
class FakeSgIo final : public SgIo {
public:
    using SendCall = std::function<int(const std::string& node, sg_io_hdr& header)>;

    explicit FakeSgIo(SendCall send) : m_send(std::move(send)) {}

    int Open(const std::string& node) override
    {
        std::lock_guard guard(m_lock);
        m_nodes.push_back(node);
        m_open.push_back(true);
        return static_cast<int>(m_nodes.size() - 1);
    }
    int Send(int descriptor, sg_io_hdr& header) override
    {
        std::string node;
        {
            std::lock_guard guard(m_lock);
            if (!m_open.at(static_cast<std::size_t>(descriptor))) {
                return EBADF;
            }
            node = m_nodes[static_cast<std::size_t>(descriptor)];
        }
        return m_send(node, header);
    }
    void Close(int descriptor) override
    {
        std::lock_guard guard(m_lock);
        m_open.at(static_cast<std::size_t>(descriptor)) = false;
    }

    // Nodes opened and not closed yet.
    int OpenNow() const
    {
        std::lock_guard guard(m_lock);
        return static_cast<int>(std::count(m_open.begin(), m_open.end(), true));
    }

private:
    SendCall m_send;
    mutable std::mutex m_lock;
    std::vector<std::string> m_nodes;  // by descriptor
    std::vector<bool> m_open;
};

// Every open fails with the given errno.
class RefusingSgIo final : public SgIo {
public:
    explicit RefusingSgIo(int error) : m_error(error) {}
    int Open(const std::string&) override { return -m_error; }
    int Send(int, sg_io_hdr&) override { return EBADF; }
    void Close(int) override {}

private:
    int m_error;
};

inline std::shared_ptr<SgIo> NoSgIo()
{
    return std::make_shared<FakeSgIo>([](const std::string&, sg_io_hdr&) { return ENOSYS; });
}

}  // namespace harrow::machine::testing

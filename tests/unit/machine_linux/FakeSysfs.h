// A sysfs and /dev tree in a temporary folder, shaped like the kernel's.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace harrow::machine::testing {

struct FakeUnit {
    int type = 0;
    std::string vendor = "KESTREL ";
    std::string model = "KX18LVD         ";
    std::string rev = "K100";
    std::optional<std::string> inquiry;  // the binary attribute, when the kernel has one
    std::string driver;                  // bound class driver, e.g. "sd"
    std::string sg;                      // "sg0"; empty: no sg node

    FakeUnit& Type(int value) { type = value; return *this; }
    FakeUnit& Names(std::string v, std::string m, std::string r = "K100")
    {
        vendor = std::move(v);
        model = std::move(m);
        rev = std::move(r);
        return *this;
    }
    FakeUnit& Inquiry(std::string bytes) { inquiry = std::move(bytes); return *this; }
    FakeUnit& Driver(std::string name) { driver = std::move(name); return *this; }
    FakeUnit& Sg(std::string name) { sg = std::move(name); return *this; }
};

class FakeSysfs {
public:
    FakeSysfs()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "harrow-sysfs-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        m_root = pattern;
        std::filesystem::create_directories(Sys() / "class" / "scsi_host");
        std::filesystem::create_directories(Sys() / "bus" / "scsi" / "devices");
        std::filesystem::create_directories(Dev());
    }
    ~FakeSysfs() { std::filesystem::remove_all(m_root); }
    FakeSysfs(const FakeSysfs&) = delete;
    FakeSysfs& operator=(const FakeSysfs&) = delete;

    std::filesystem::path Sys() const { return m_root / "sys"; }
    std::filesystem::path Dev() const { return m_root / "dev"; }
    std::filesystem::path HostDir(int host) const
    {
        return Sys() / "class" / "scsi_host" / ("host" + std::to_string(host));
    }

    void AddHost(int host, const std::string& procName)
    {
        std::filesystem::create_directories(HostDir(host));
        Write(HostDir(host) / "proc_name", procName + "\n");
        Write(HostDir(host) / "scan", "");
    }

    // Units live under /sys/devices and are linked from /sys/bus/scsi/devices.
    void AddUnit(const std::string& hctl, const FakeUnit& unit)
    {
        const auto dir = Sys() / "devices" / hctl;
        std::filesystem::create_directories(dir);
        Write(dir / "type", std::to_string(unit.type) + "\n");
        Write(dir / "vendor", unit.vendor + "\n");
        Write(dir / "model", unit.model + "\n");
        Write(dir / "rev", unit.rev + "\n");
        if (unit.inquiry) {
            Write(dir / "inquiry", *unit.inquiry);
        }
        if (!unit.driver.empty()) {
            std::filesystem::create_directory_symlink("../../bus/scsi/drivers/" + unit.driver, dir / "driver");
        }
        if (!unit.sg.empty()) {
            std::filesystem::create_directories(dir / "scsi_generic" / unit.sg);
        }
        std::filesystem::create_directory_symlink(dir, Sys() / "bus" / "scsi" / "devices" / hctl);
    }

    static void Write(const std::filesystem::path& file, const std::string& text)
    {
        std::ofstream(file, std::ios::binary) << text;
    }
    static std::string Read(const std::filesystem::path& file)
    {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::filesystem::path m_root;
};

// 36 bytes of standard INQUIRY data.
inline std::string InquiryBytes(int type, const std::string& vendor, const std::string& product,
                                const std::string& rev)
{
    std::string bytes(8, '\0');
    bytes[0] = static_cast<char>(type);
    bytes[2] = 0x05;
    bytes[3] = 0x12;
    bytes[4] = 31;
    return bytes + vendor + product + rev;
}

}  // namespace harrow::machine::testing

// The open sg node of each unit that was sent a command. A node is looked up
// in sysfs and opened at a unit's first command and then kept, as a Windows
// port keeps one handle per unit: each later command is one ioctl instead of
// a sysfs lookup, an open and a close. An open node reaches only the unit it
// was opened for; once that unit is gone the kernel answers ENODEV, and the
// address is looked up again, so a unit put back there is reached. The sg
// driver queues at most 16 commands a descriptor (EDOM past that); a command
// beyond them gets a descriptor of its own, as every command had before.
#pragma once

#include "machine/linux/SgIo.h"
#include "machine/linux/SysfsTopology.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

namespace harrow::machine {

class SgNodeTable {
public:
    // A machine with more units than this opens some of them again; one
    // descriptor for every unit of a large SAN would exhaust the process's.
    static constexpr std::size_t kMaxOpen = 64;

    SgNodeTable(std::filesystem::path sysRoot, std::filesystem::path devRoot, std::shared_ptr<SgIo> io);
    SgNodeTable(const SgNodeTable&) = delete;
    SgNodeTable& operator=(const SgNodeTable&) = delete;

    // 0 when the ioctl ran; ENODEV when the unit is gone, EOPNOTSUPP when
    // the sg driver gave it no node, else the errno of the open or the ioctl.
    int Send(const UnitAddress& address, sg_io_hdr& header);

    // How many nodes were opened in all.
    unsigned Opens() const;

private:
    class Node;

    // The unit's open node, opening it when none is; null with the reason in *failure.
    std::shared_ptr<Node> NodeOf(const UnitAddress& address, int* failure);
    // A node of the unit for one command, not kept; null with the reason in *failure.
    std::shared_ptr<Node> OpenNode(const UnitAddress& address, int* failure);
    void Forget(const UnitAddress& address, const std::shared_ptr<Node>& node);

    const std::filesystem::path m_sysRoot;
    const std::filesystem::path m_devRoot;
    const std::shared_ptr<SgIo> m_io;
    mutable std::mutex m_lock;
    // Shared with the commands in flight on them: a node forgotten or evicted
    // meanwhile is closed when its last command returns, never under it.
    std::map<UnitAddress, std::shared_ptr<Node>> m_nodes;
    unsigned m_opens = 0;
};

}  // namespace harrow::machine

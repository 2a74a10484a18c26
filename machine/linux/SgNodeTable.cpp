#include "machine/linux/SgNodeTable.h"

#include <cerrno>

namespace harrow::machine {

class SgNodeTable::Node {
public:
    Node(std::shared_ptr<SgIo> io, int descriptor) : m_io(std::move(io)), m_descriptor(descriptor) {}
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    ~Node() { m_io->Close(m_descriptor); }

    int Send(sg_io_hdr& header) const { return m_io->Send(m_descriptor, header); }

private:
    std::shared_ptr<SgIo> m_io;
    int m_descriptor;
};

SgNodeTable::SgNodeTable(std::filesystem::path sysRoot, std::filesystem::path devRoot, std::shared_ptr<SgIo> io)
    : m_sysRoot(std::move(sysRoot)), m_devRoot(std::move(devRoot)), m_io(std::move(io))
{
}

int SgNodeTable::Send(const UnitAddress& address, sg_io_hdr& header)
{
    // A second try only after ENODEV: the kernel refused before the command
    // reached the unit, and the address may hold a new one by now.
    int result = ENODEV;
    for (int attempt = 0; attempt < 2 && result == ENODEV; ++attempt) {
        const std::shared_ptr<Node> node = NodeOf(address, &result);
        if (node == nullptr) {
            return result;
        }
        result = node->Send(header);
        if (result == ENODEV) {
            Forget(address, node);
        }
    }
    if (result == EDOM) {
        // Refused before it was queued: the kept descriptor holds 16 commands already.
        const std::shared_ptr<Node> own = OpenNode(address, &result);
        result = own != nullptr ? own->Send(header) : result;
    }
    return result;
}

unsigned SgNodeTable::Opens() const
{
    std::lock_guard guard(m_lock);
    return m_opens;
}

std::shared_ptr<SgNodeTable::Node> SgNodeTable::NodeOf(const UnitAddress& address, int* failure)
{
    std::lock_guard guard(m_lock);
    if (const auto held = m_nodes.find(address); held != m_nodes.end()) {
        return held->second;
    }
    auto node = OpenNode(address, failure);
    if (node == nullptr) {
        return nullptr;
    }
    ++m_opens;
    if (m_nodes.size() >= kMaxOpen) {
        m_nodes.erase(m_nodes.begin());
    }
    m_nodes.emplace(address, node);
    return node;
}

std::shared_ptr<SgNodeTable::Node> SgNodeTable::OpenNode(const UnitAddress& address, int* failure)
{
    const auto sgName = SysfsTopology::ReadSgName(m_sysRoot, address);
    if (!sgName) {
        *failure = ENODEV;
        return nullptr;
    }
    // Without the sg driver there is no way to send a raw command.
    if (sgName->empty()) {
        *failure = EOPNOTSUPP;
        return nullptr;
    }
    const int descriptor = m_io->Open((m_devRoot / *sgName).string());
    if (descriptor < 0) {
        *failure = -descriptor;
        return nullptr;
    }
    return std::make_shared<Node>(m_io, descriptor);
}

void SgNodeTable::Forget(const UnitAddress& address, const std::shared_ptr<Node>& node)
{
    std::lock_guard guard(m_lock);
    // Another command may have opened the address again meanwhile.
    if (const auto held = m_nodes.find(address); held != m_nodes.end() && held->second == node) {
        m_nodes.erase(held);
    }
}

}  // namespace harrow::machine

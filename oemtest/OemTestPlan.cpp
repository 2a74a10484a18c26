#include "oemtest/OemTestPlan.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/devices/CDisk.h"
#include "core/system/CComputerSystem.h"
#include "core/tests/CCmdUserDefCDBTest.h"
#include "core/tests/CDiskSeekTest.h"
#include "core/tests/DiskRanTests.h"
#include "core/tests/DiskSeqTests.h"
#include "frontend/TextFormat.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

namespace {

constexpr std::uint8_t CDB_DATA_IN = 0x08;
constexpr std::uint8_t CDB_DATA_OUT = 0x10;
constexpr std::uint32_t CDB_TIMEOUT_SECONDS = 30;
constexpr std::size_t MAX_USER_PATTERN = 4096;

std::string Trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

OemDevice Resolve(const CDevAddress& address)
{
    OemDevice entry;
    entry.address = address;
    entry.record.hostAdapter = address.m_HostAdapter;
    entry.record.target = address.m_Target;
    entry.record.lun = address.m_Lun;
    entry.name = Format("Disc %d:%d:%d", address.m_HostAdapter, address.m_Target, address.m_Lun);
    CComputerSystem* system = CComputerSystem::Instance();
    SCSIDevice* device =
        system != nullptr ? system->GetSCSIDevice(address.m_HostAdapter, address.m_Target, address.m_Lun) : nullptr;
    // The engine's disk tests drive disks only.
    if (dynamic_cast<CDisk*>(device) == nullptr) {
        return entry;
    }
    entry.device = device;
    const std::string serial = Trimmed(device->GetSerialNum_Str());
    entry.name += " " + Trimmed(device->GetVendor()) + " " + Trimmed(device->GetModelName()) + " " + serial;
    entry.record.isKestrel = 1;
    entry.record.logName = serial;
    return entry;
}

template <class Test>
std::unique_ptr<CTestBase> Make(std::list<CDevAddress>& addresses, const OemParameters& parameters)
{
    return std::make_unique<Test>(&addresses, static_cast<long>(addresses.size()), OemTestPlan::PATTERN_SLOT,
                                  parameters.threadsPerDevice, parameters.cmdBlocks);
}

std::unique_ptr<CTestBase> MakeSeek(std::list<CDevAddress>& addresses, const OemParameters& parameters,
                                    SeekTest_t kind)
{
    return std::make_unique<CDiskSeekTest>(&addresses, static_cast<long>(addresses.size()), kind,
                                           OemTestPlan::PATTERN_SLOT, parameters.threadsPerDevice,
                                           parameters.cmdBlocks);
}

}  // namespace

bool ParseHexBytes(const std::string& text, std::vector<std::uint8_t>& bytes)
{
    std::string digits;
    for (const char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            digits += c;
        } else if (c != ' ' && c != ',') {
            return false;
        }
    }
    if (digits.size() % 2 != 0) {
        return false;
    }
    bytes.clear();
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    }
    return true;
}

OemTestPlan::OemTestPlan(const OemCommand& command, const std::vector<CDevAddress>& addresses)
    : m_command(command), m_addresses(addresses.begin(), addresses.end())
{
    for (const CDevAddress& address : addresses) {
        m_devices.push_back(Resolve(address));
    }
}

std::string OemTestPlan::Check() const
{
    for (const OemDevice& entry : m_devices) {
        if (entry.device == nullptr) {
            return entry.name + " is not a disk of this machine. Rescan the devices and choose the test again.";
        }
    }
    if (m_devices.empty()) {
        return "No drive was handed over. Tick drives on the Devices page first.";
    }
    // A user CDB that sends data sends the pattern.
    std::string problem = m_command.family == OemFamily::UserCdb ? CheckCdb() : CheckBlocks();
    if (!problem.empty()) {
        return problem;
    }
    return m_command.writes || m_parameters.dataCompare ? CheckPattern() : std::string();
}

std::string OemTestPlan::CheckBlocks() const
{
    const OemParameters& p = m_parameters;
    if (p.useRange) {
        // A data test stops before its end block, a seek goes to it.
        const unsigned long high = SmallestHighBlock();
        const unsigned long end = m_command.family == OemFamily::Seek || m_devices.empty() ? high : high + 1;
        if (p.startBlock >= p.endBlock) {
            return "The first block must lie below the end block.";
        }
        if (p.endBlock > end) {
            return Format("The end block must not pass %lu, the end of the smallest drive.", end);
        }
    } else if (p.percentage < 1 || p.percentage > 100) {
        return "The share of the drive is 1 to 100 per cent.";
    }
    if (p.blocksPerXfer < 1) {
        return "A transfer moves at least one block.";
    }
    if (m_command.family == OemFamily::Sequential) {
        return {};
    }
    if (p.limit == OemLimit::Operations && p.operations < 2) {
        return "Count at least 2 operations, or run the test until it is cancelled.";
    }
    if (p.limit == OemLimit::Seconds && p.seconds < 1) {
        return "A timed test runs at least one second.";
    }
    return {};
}

std::string OemTestPlan::CheckPattern() const
{
    if (m_parameters.pattern != PatternUser) {
        return {};
    }
    std::vector<std::uint8_t> bytes;
    if (!ParseHexBytes(m_parameters.userPattern, bytes) || bytes.empty()) {
        return "The user pattern is pairs of hexadecimal digits, for example \"A5 5A 00 FF\".";
    }
    if (bytes.size() > MAX_USER_PATTERN) {
        return Format("The user pattern holds at most %zu bytes.", MAX_USER_PATTERN);
    }
    return {};
}

std::string OemTestPlan::CheckCdb() const
{
    std::vector<std::uint8_t> bytes;
    if (!ParseHexBytes(m_parameters.cdb, bytes) || bytes.size() < 6 || bytes.size() > 16) {
        return "The CDB is 6 to 16 bytes in hexadecimal, for example \"00 00 00 00 00 00\".";
    }
    const bool moves = m_parameters.direction != OemDirection::None;
    if (moves && (m_parameters.dataLength < 1 || m_parameters.dataLength > MAX_DATA_LENGTH)) {
        return Format("A CDB that moves data moves 1 to %ld bytes.", MAX_DATA_LENGTH);
    }
    return {};
}

unsigned long OemTestPlan::SmallestHighBlock() const
{
    unsigned long high = std::numeric_limits<unsigned long>::max();
    for (const OemDevice& entry : m_devices) {
        high = std::min(high, entry.device->GetHighBlock());
    }
    return high;
}

std::string OemTestPlan::ConfirmationText() const
{
    std::string text = Format("The %s test overwrites data on these drives:\n\n", m_command.name);
    for (const OemDevice& entry : m_devices) {
        text += "\t" + entry.name + "\n";
    }
    return text + "\nWhat the tested blocks hold now is lost. Run the test?";
}

std::unique_ptr<CTestBase> OemTestPlan::MakeTest(Error_t& result)
{
    result = RegisterPattern();
    if (result != ERR_NONE) {
        return nullptr;
    }
    CBufferPatternSystem::SetDataCompare(m_parameters.dataCompare);
    std::unique_ptr<CTestBase> test = NewTest();
    result = SetParameters(*test);
    return result == ERR_NONE ? std::move(test) : nullptr;
}

OemProgressBasis OemTestPlan::ProgressBasis() const
{
    const OemParameters& p = m_parameters;
    OemProgressBasis basis;
    basis.blocksPerXfer = p.blocksPerXfer;
    if (!MovesData(m_command) || m_command.family == OemFamily::UserCdb) {
        return basis;
    }
    if (m_command.family == OemFamily::Sequential) {
        basis.kind = OemProgressBasis::RangeBlocks;
    } else if (p.limit == OemLimit::Operations) {
        // Every thread performs the whole count.
        basis.kind = OemProgressBasis::CountedBlocks;
        basis.countedBlocks = static_cast<long long>(p.operations) * p.threadsPerDevice * p.blocksPerXfer;
    }
    return basis;
}

std::unique_ptr<CTestBase> OemTestPlan::NewTest()
{
    const OemParameters& p = m_parameters;
    switch (m_command.id) {
    case 50000: return Make<CDiskSeqReadTest>(m_addresses, p);
    case 50001: return Make<CDiskVerifyTest>(m_addresses, p);
    case 50002: return Make<CDiskSeqWriteTest>(m_addresses, p);
    case 50003: return Make<CDiskSeqWriteReadTest>(m_addresses, p);
    case 50004: return Make<CDiskSeqWriteVerifyTest>(m_addresses, p);
    case 50010: return Make<CDiskRanReadTest>(m_addresses, p);
    case 50011: return Make<CDiskRanWriteTest>(m_addresses, p);
    case 50012: return Make<CDiskRanWriteReadTest>(m_addresses, p);
    case 50013: return Make<CDiskRanWriteVerifyTest>(m_addresses, p);
    case 50020: return MakeSeek(m_addresses, p, RandomSeek);
    case 50021: return MakeSeek(m_addresses, p, ButterflySeek);
    case 50022: return MakeSeek(m_addresses, p, FullStrokeSeek);
    default: return Make<CCmdUserDefCDBTest>(m_addresses, p);
    }
}

Error_t OemTestPlan::SetParameters(CTestBase& test)
{
    const OemParameters& p = m_parameters;
    if (m_command.family == OemFamily::UserCdb) {
        BuildCdb();
        return static_cast<CCmdUserDefCDBTest&>(test).StartTest(&m_cdb);
    }
    long operations = 0;
    long seconds = 0;
    if (m_command.family != OemFamily::Sequential) {
        operations = p.limit == OemLimit::Operations ? p.operations : 0;
        seconds = p.limit == OemLimit::Seconds ? p.seconds : 0;
    }
    if (p.useRange) {
        return test.StartTest(p.startBlock, p.endBlock, operations, p.blocksPerXfer, seconds);
    }
    // The share takes effect while the end block says so.
    const Error_t result = test.StartTest(0UL, CTestBase::END_FROM_PERCENTAGE, operations, p.blocksPerXfer, seconds);
    return result != ERR_NONE ? result : test.StartTest(p.percentage, operations, p.blocksPerXfer, seconds);
}

Error_t OemTestPlan::RegisterPattern() const
{
    AlignedBuffer* bytes = nullptr;
    long length = 0;
    if (m_parameters.pattern == PatternUser) {
        std::vector<std::uint8_t> user;
        ParseHexBytes(m_parameters.userPattern, user);
        length = static_cast<long>(user.size());
        try {
            bytes = new AlignedBuffer(length);
        } catch (Error_t code) {
            return code;
        }
        std::memcpy(bytes->Ptr(), user.data(), user.size());
    }
    return CBufferPatternSystem::Instance()->SetPattern(PATTERN_SLOT, m_parameters.pattern, bytes, length);
}

void OemTestPlan::BuildCdb()
{
    std::vector<std::uint8_t> bytes;
    ParseHexBytes(m_parameters.cdb, bytes);
    m_cdb = {};
    std::copy(bytes.begin(), bytes.end(), m_cdb.Cdb);
    m_cdb.CdbLength = static_cast<std::uint8_t>(bytes.size());
    const OemDirection direction = m_parameters.direction;
    m_cdb.Flags = direction == OemDirection::In ? CDB_DATA_IN : (direction == OemDirection::Out ? CDB_DATA_OUT : 0);
    m_cdb.DataLength = direction == OemDirection::None ? 0 : static_cast<std::uint32_t>(m_parameters.dataLength);
    m_cdb.Timeout = CDB_TIMEOUT_SECONDS;
}

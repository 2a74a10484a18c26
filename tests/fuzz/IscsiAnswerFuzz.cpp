// Takes arbitrary bytes as what an iSCSI target answers, three ways:
// - the first input line goes through the iSCSI address parser;
// - the whole input is a REPORT LUNS answer, laid out as a port's bus list
//   and read as the scan and the listing read it;
// - the input is a target's side of a conversation: after each PDU the
//   initiator sends, the next piece (a 2-byte big-endian length, then that
//   many bytes) goes back on the connection. A port logs in and scans through
//   libiscsi as the programs do, so every answer Harrow reads itself
//   (residuals, sense, REPORT LUNS, INQUIRY, logout requests) meets bytes a
//   hostile target chose. tests/support/fake_iscsi_target.py --record writes
//   such conversations; tests/fuzz/corpus/iscsi holds some as seeds.
#include "core/types/LunAddress.h"
#include "machine/PortLayout.h"
#include "machine/iscsi/IscsiPort.h"
#include "machine/iscsi/IscsiTarget.h"
#include "machine/iscsi/LunReport.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace harrow::machine;

constexpr std::size_t kHeaderLength = 48;  // RFC 7143 11.2.1
constexpr std::size_t kTagOffset = 16;     // Initiator Task Tag
constexpr int kOpScsiCommand = 0x01;
constexpr int kOpDataIn = 0x25;
constexpr int kOpR2t = 0x31;
// The initiator answers at once; a target that stopped halfway waits no longer.
constexpr int kQuietMs = 10;

void ParseAddress(const std::string& text)
{
    try {
        ParseIscsiTargets(text.substr(0, text.find('\n')));
    } catch (const std::invalid_argument&) {
    } catch (const std::runtime_error&) {
    }
}

void LayOutLuns(std::span<const std::uint8_t> answer)
{
    std::vector<std::string> notes;
    ListedPort port;
    for (const unsigned lun : LunsFromReport(answer, &notes)) {
        if (lun > 255) {
            std::abort();
        }
        ListedUnit unit;
        unit.lun = static_cast<UCHAR>(lun);
        port.units.push_back(unit);
    }
    BuildBusInfo(port);
    const auto below = LunsBelow(answer.data(), static_cast<unsigned long>(answer.size()), 256);
    if (!std::is_sorted(below.begin(), below.end()) ||
        std::adjacent_find(below.begin(), below.end()) != below.end() || (!below.empty() && below.back() > 255) ||
        (answer.size() >= 4 && LunListBytes(answer.data()) > kLunListMostAsked)) {
        std::abort();
    }
}

bool ReadAll(int fd, std::uint8_t* data, std::size_t length)
{
    while (length > 0) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, kQuietMs) <= 0) {
            return false;
        }
        const ssize_t got = ::read(fd, data, length);
        if (got <= 0) {
            return false;
        }
        data += got;
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

std::uint32_t TagAt(const std::uint8_t* bytes)
{
    return (std::uint32_t{bytes[0]} << 24) | (bytes[1] << 16) | (bytes[2] << 8) | bytes[3];
}

// One PDU of the initiator's, which libiscsi built: its header says how long
// it is. Its task tag joins *untasked when it is no SCSI command.
bool ReadPdu(int fd, std::set<std::uint32_t>* untasked)
{
    std::uint8_t header[kHeaderLength];
    if (!ReadAll(fd, header, sizeof header)) {
        return false;
    }
    if ((header[0] & 0x3F) != kOpScsiCommand) {
        untasked->insert(TagAt(header + kTagOffset));
    }
    const std::size_t data = (std::size_t{header[5]} << 16) | (header[6] << 8) | header[7];
    std::vector<std::uint8_t> rest(header[4] * 4 + data + (4 - data % 4) % 4);
    return ReadAll(fd, rest.data(), rest.size());
}

// libiscsi (1.19 and upstream in December 2026) takes the SCSI task of
// whatever request a Data-In or R2T names, and a login, logout or NOP-Out has
// none: such a PDU crashes every libiscsi program. Known, so kept out: at every
// place a header could start, a Data-In or R2T naming such a request gets
// another tag. `sent` holds what went before, since a header may span pieces.
void AvoidKnownCrash(const std::set<std::uint32_t>& untasked, std::vector<std::uint8_t>* sent, std::size_t from)
{
    std::vector<std::uint8_t>& bytes = *sent;
    for (std::size_t tag = std::max<std::size_t>(from, kTagOffset + 3) - 3; tag + 4 <= bytes.size(); ++tag) {
        const int opcode = bytes[tag - kTagOffset] & 0x3F;
        while ((opcode == kOpDataIn || opcode == kOpR2t) && untasked.contains(TagAt(&bytes[tag]))) {
            ++bytes[tag + 3];
        }
    }
}

// The pieces left once the initiator closes the connection or goes quiet.
std::span<const std::uint8_t> Answer(int fd, std::span<const std::uint8_t> input)
{
    std::set<std::uint32_t> untasked;
    std::vector<std::uint8_t> sent;
    while (input.size() >= 2 && ReadPdu(fd, &untasked)) {
        const std::size_t length = std::min<std::size_t>((input[0] << 8) | input[1], input.size() - 2);
        const std::size_t from = sent.size();
        sent.insert(sent.end(), input.begin() + 2, input.begin() + 2 + static_cast<std::ptrdiff_t>(length));
        AvoidKnownCrash(untasked, &sent, from);
        if (::send(fd, sent.data() + from, length, MSG_NOSIGNAL) < 0) {
            break;
        }
        input = input.subspan(2 + length);
    }
    return input;
}

// Each login gets the pieces the one before left: a target that asked for a
// logout is logged in to again. Ends when the listener is shut down.
void PlayTarget(int listener, std::span<const std::uint8_t> input)
{
    pollfd waiting{listener, POLLIN, 0};
    while (input.size() >= 2 && ::poll(&waiting, 1, 1000) == 1) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) {
            break;
        }
        input = Answer(fd, input);
        ::close(fd);
    }
}

void Converse(std::span<const std::uint8_t> input)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 || ::listen(listener, 4) != 0) {
        std::abort();
    }
    IscsiTarget target;
    target.host = "127.0.0.1";
    target.port = ntohs(address.sin_port);
    target.iqn = "iqn.2026-12.org.harrow:fuzz";
    std::thread player(PlayTarget, listener, input);
    {
        IscsiPort port(0, target, std::chrono::milliseconds(1000));
        port.Scan();
        for (const ListedUnit& unit : port.Listing().units) {
            if (!InquiryShowsUnit(unit.inquiry)) {
                std::abort();  // only units that answered as present are listed
            }
        }
        // Wakes the player's wait for a login; the port's end closes its connection.
        ::shutdown(listener, SHUT_RDWR);
    }
    player.join();
    ::close(listener);
}

}  // namespace

// libiscsi starts a session's task tags and command numbers at rand(); a fixed
// start is what makes a recorded conversation (RECORD_BASE in the fake target)
// match the initiator's tags when it is replayed.
extern "C" int rand() { return 0x10000; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(input, size);
    ParseAddress(std::string(reinterpret_cast<const char*>(input), size));
    LayOutLuns(bytes);
    Converse(bytes);
    return 0;
}

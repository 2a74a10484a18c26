#include "core/system/CGenericDevice.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/system/CHostAdapter.h"
#include "core/transport/CScsiIoCtl.h"
#include "core/types/CEventBase.h"
#include "core/types/LunAddress.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kSerialOffset = 4;
constexpr std::size_t kSerialLengthByte = 3;

}  // namespace

CGenericDevice::CGenericDevice(int adapterNumber, int targetNumber, unsigned long lun)
    : SCSIDevice(nullptr, adapterNumber, targetNumber, lun)
{
}

Error_t CGenericDevice::OpenControlBlock()
{
    // Block 0 comes from the adapter; a null block means no resources.
    if (SetIoCtlBlocks(0) != 0) {
        return ERR_NO_RESOURCE;
    }
    return GetCtlBlock(0)->GetStatus();
}

Error_t CGenericDevice::Init(CHostAdapter* adapter)
{
    SetAddress(adapter, GetHANum(), GetTargetNum(), GetLUNNum());
    if (adapter == nullptr || OpenControlBlock() != ERR_NONE) {
        return ERR_INIT_FAILED;
    }
    try {
        AlignedBuffer inquiry(kInquiryLength);
        std::memset(inquiry.Ptr(), 0, inquiry.Size());
        if (Inquiry(0, &inquiry, kInquiryLength, 0, 0) != ERR_NONE) {
            return ERR_INIT_FAILED;
        }
        SetDevProperties(static_cast<const SCSI_InquiryData_s*>(inquiry.Ptr()));
        m_bAnswered = true;
    } catch (CEventBase* event) {
        delete event;
        return ERR_INIT_FAILED;
    } catch (Error_t) {
        return ERR_INIT_FAILED;
    }
    ReadSerialNumber();
    if (GetDevType() == DEV_UNKNOWN) {
        return ERR_INIT_FAILED;
    }
    UnlockDev();
    LogDeviceInfo();
    return ERR_NONE;
}

std::vector<unsigned long> CGenericDevice::ReportedLuns(unsigned long limit)
{
    std::vector<unsigned long> luns;
    if (!m_bAnswered) {
        return luns;
    }
    ExpectedFailures expected(*this);
    try {
        AlignedBuffer list(kLunListFirstAsk);
        std::memset(list.Ptr(), 0, list.Size());
        if (ReportLUNs(0, &list) != ERR_NONE) {
            return luns;
        }
        luns = LunsBelow(static_cast<const unsigned char*>(list.Ptr()), list.Size(), limit);
        // A longer list than there was room for (SPC-4 6.33): once more, whole.
        // Should that fail, the first part stands.
        if (const unsigned long whole = LunListBytes(static_cast<const unsigned char*>(list.Ptr()));
            whole > list.Size()) {
            AlignedBuffer longer(whole);
            std::memset(longer.Ptr(), 0, longer.Size());
            if (ReportLUNs(0, &longer) == ERR_NONE) {
                luns = LunsBelow(static_cast<const unsigned char*>(longer.Ptr()), longer.Size(), limit);
            }
        }
    } catch (CEventBase* event) {
        delete event;  // a target without REPORT LUNS: the blind probe stands
    } catch (Error_t) {
        // no buffer for the list: likewise
    }
    return luns;
}

void CGenericDevice::ReadSerialNumber()
{
    try {
        AlignedBuffer page(kInquiryLength);
        std::memset(page.Ptr(), 0, page.Size());
        if (Inquiry(0, &page, kInquiryLength, 1, kSerialNumberPage) != ERR_NONE) {
            return;
        }
        const auto* bytes = static_cast<const char*>(page.Ptr());
        // The page length is the drive's word; the buffer holds 251 bytes past the header.
        const std::size_t claimed = static_cast<unsigned char>(bytes[kSerialLengthByte]);
        const std::size_t length = std::min(claimed, page.Size() - kSerialOffset);
        SetSerialNum_Str(std::string(bytes + kSerialOffset, strnlen(bytes + kSerialOffset, length)));
    } catch (CEventBase* event) {
        delete event;  // no serial number page: the serial stays as it was
    } catch (Error_t) {
        // no buffer for the page: likewise
    }
}

#include "core/system/CGenericDevice.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/system/CHostAdapter.h"
#include "core/transport/CScsiIoCtl.h"
#include "core/types/CEventBase.h"

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
        AlignedBuffer inquiry(INQUIRY_LENGTH);
        std::memset(inquiry.Ptr(), 0, inquiry.Size());
        if (Inquiry(0, &inquiry, INQUIRY_LENGTH, 0, 0) != ERR_NONE) {
            return ERR_INIT_FAILED;
        }
        SetDevProperties(static_cast<const SCSI_InquiryData_s*>(inquiry.Ptr()));
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

void CGenericDevice::ReadSerialNumber()
{
    try {
        AlignedBuffer page(INQUIRY_LENGTH);
        std::memset(page.Ptr(), 0, page.Size());
        if (Inquiry(0, &page, INQUIRY_LENGTH, 1, SERIAL_NUMBER_PAGE) != ERR_NONE) {
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

#pragma once

#include "core/devices/SCSIDevice.h"

#include <vector>

// The probe of one LUN during a scan: asks INQUIRY and the serial number,
// then the scan builds the typed device from what it learned.
class CGenericDevice : public SCSIDevice {
public:
    static constexpr long kInquiryLength = 255;
    static constexpr int kSerialNumberPage = 0x80;

    CGenericDevice(int adapterNumber, int targetNumber, unsigned long lun);

    // ERR_INIT_FAILED when no control block could be made, INQUIRY failed or
    // nothing usable answers at this LUN.
    Error_t Init(CHostAdapter* adapter);

    // The LUNs below `limit` that the target's REPORT LUNS (SPC-4)
    // lists, asked through this probe after its INQUIRY was answered;
    // empty when it was not, or when the target does not answer.
    std::vector<unsigned long> ReportedLuns(unsigned long limit);

private:
    Error_t OpenControlBlock();
    void ReadSerialNumber();

    bool m_bAnswered = false;
};

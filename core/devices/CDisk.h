#pragma once

#include "core/devices/DiskFormat.h"
#include "core/devices/SCSIDevice.h"

class CEventBase;

// A direct-access device: the block commands of the disk tests, format,
// capacity and defect reports. The forms taking a CScsiIoCtl* serve callers
// that manage their own blocks; the others take a block index.
class CDisk : public SCSIDevice {
public:
    // Takes the identity the scan's probe found.
    explicit CDisk(SCSIDevice* probe);
    CDisk(const CDisk&) = delete;
    CDisk& operator=(const CDisk&) = delete;

    // The device's identity, then its capacity when the drive tells it.
    Error_t Init();

    virtual Error_t Read(unsigned long index, unsigned long lba, long blocks, AlignedBuffer* buf, int dpo, int fua,
                         int relAdr);
    virtual Error_t ReadDefectData(unsigned long index, int pList, int gList, unsigned char format,
                                   AlignedBuffer* buf, int* cdbUsed);
    virtual Error_t Verify(unsigned long index, unsigned long lba, long blocks, AlignedBuffer* buf, int dpo,
                           int bytChk, int relAdr);
    // Note the flag order: FUA comes before DPO here.
    virtual Error_t Write(unsigned long index, unsigned long lba, long blocks, AlignedBuffer* buf, int fua, int dpo,
                          int relAdr);
    virtual Error_t WriteVerify(unsigned long index, unsigned long lba, long blocks, AlignedBuffer* buf, int dpo,
                                int bytChk, int relAdr);
    // SEEK(10), or beyond 32-bit LBAs a 1-block VERIFY(16).
    Error_t Seek(unsigned long index, unsigned long lba);
    // The most blocks the drive takes in one READ or WRITE, from its Block
    // Limits VPD page; 0 when it sets no limit or offers no such page.
    unsigned long MaxTransferBlocks(unsigned long index);

    Error_t Read6(CScsiIoCtl* ctl, unsigned long lba, long blocks, AlignedBuffer* buf);
    Error_t Write6(CScsiIoCtl* ctl, unsigned long lba, long blocks, AlignedBuffer* buf);
    Error_t Read10(CScsiIoCtl* ctl, unsigned long lba, long blocks, AlignedBuffer* buf, int dpo, int fua, int relAdr);
    Error_t Write10(CScsiIoCtl* ctl, unsigned long lba, long blocks, AlignedBuffer* buf, int fua, int dpo,
                    int relAdr);
    Error_t Seek6(CScsiIoCtl* ctl, unsigned long lba);
    Error_t Seek10(CScsiIoCtl* ctl, unsigned long lba);

    Error_t ReadLong(unsigned long index, unsigned long lba, long length, AlignedBuffer* buf, int correct);
    Error_t WriteLong(unsigned long index, unsigned long lba, long length, AlignedBuffer* buf, int correct);
    Error_t WriteSame(unsigned long index, AlignedBuffer* buf, unsigned long lba, long blocks, int pbData, int lbData,
                      int relAdr);
    Error_t SyncCache(unsigned long index, unsigned long lba, long blocks, int immed, int relAdr);
    Error_t PreFetch(unsigned long index, unsigned long lba, long blocks, int immed, int relAdr);
    // On success the device takes the drive's last block and block length;
    // a drive too large for the 10-byte answer is asked with READ CAPACITY(16).
    Error_t ReadCapacity(unsigned long index, int relAdr, int pmi, AlignedBuffer* buf, bool option);

    Error_t ReadDefectData10(CScsiIoCtl* ctl, int pList, int gList, unsigned char format, AlignedBuffer* buf);
    Error_t ReadDefectData12(CScsiIoCtl* ctl, int pList, int gList, unsigned char format, AlignedBuffer* buf);
    // Defects in the list the drive holds; cdbUsed tells 3 (12-byte), 2 (10-byte) or 0.
    Error_t ReadDefectCount(unsigned long index, long* count, int pList, int gList, unsigned char format,
                            int* cdbUsed);
    Error_t ReassignBlocks(unsigned long index, AlignedBuffer* buf);
    Error_t StartStopUnit(unsigned long index, bool start, bool immed);
    Error_t ReZero(unsigned long index);

    Error_t Reserve6(CScsiIoCtl* ctl, int thirdParty, int thirdPartyId, int extent, int reservationId,
                     AlignedBuffer* buf);
    Error_t Release6(CScsiIoCtl* ctl, int thirdParty, int thirdPartyId, int extent, int reservationId,
                     AlignedBuffer* buf);
    Error_t Reserve10(CScsiIoCtl* ctl, int thirdParty, int thirdPartyId, int extent, int reservationId,
                      AlignedBuffer* buf);
    Error_t Release10(CScsiIoCtl* ctl, int thirdParty, int thirdPartyId, int extent, int reservationId,
                      AlignedBuffer* buf);

    // Writes the parameter list into buf; any pattern must already be there from byte 8.
    Error_t Format6(CScsiIoCtl* ctl, format_struct format, defectListHeader header, IPdescriptor pattern,
                    AlignedBuffer* buf);
    Error_t FormatUnit(unsigned long index, format_struct format, defectListHeader header, IPdescriptor pattern,
                       AlignedBuffer* buf);
    Error_t FormatUnit(unsigned long index, int fmtData, int cmpLst, int listFormat, int interleave,
                       AlignedBuffer* buf);

    // The length of a long (data and ECC) block, found from the drive's
    // answer to a READ LONG of the wrong length; 0 when it cannot tell.
    Error_t CalcLongBlockLength(long& length);

protected:
    // For devices that are disks reached another way.
    CDisk(CHostAdapter* adapter, int adapterNumber, int targetNumber, unsigned long lun);

private:
    // A drive past 32-bit LBAs takes the 16-byte forms of SBC-3 for every block command of the tests.
    bool NeedsCdb16() const;
    Error_t ReadWrite16(CScsiIoCtl* ctl, unsigned char opcode, unsigned long lba, long blocks, AlignedBuffer* buf,
                        int dpo, int fua, int relAdr, unsigned long direction);
    Error_t Verify16(CScsiIoCtl* ctl, unsigned char opcode, unsigned long lba, long blocks, AlignedBuffer* buf,
                     int dpo, int bytChk, unsigned long direction);
    Error_t ReadWrite10(CScsiIoCtl* ctl, unsigned char opcode, unsigned long lba, long blocks, AlignedBuffer* buf,
                        int dpo, int fua, int relAdr, unsigned long direction);
    Error_t ReadWrite6(CScsiIoCtl* ctl, unsigned char opcode, unsigned long lba, long blocks, AlignedBuffer* buf,
                       unsigned long direction);
    Error_t Reservation(CScsiIoCtl* ctl, unsigned char opcode, int thirdParty, int thirdPartyId, int extent,
                        int reservationId, AlignedBuffer* buf);
    Error_t ReadDefectList(CScsiIoCtl* ctl, bool twelve, int pList, int gList, unsigned char format,
                           AlignedBuffer* buf);
    Error_t ReadDefectsFallingBack(unsigned long index, int pList, int gList, unsigned char format,
                                   AlignedBuffer* buf, int* cdbUsed);
    // Bytes that blocks of the device's block length fill; refuses counts the CDB cannot carry.
    Error_t BlockBytes(long blocks, long maxBlocks, unsigned long* bytes) const;
    Error_t RunWithOption(CScsiIoCtl* ctl, const ScsiCommand& command, unsigned char option);
    void TakeCapacity(const unsigned char* data);
    void SetCapacity(unsigned long lastBlock, unsigned long blockLength);
    Error_t ReadCapacity16(CScsiIoCtl* ctl, unsigned char option);
    Error_t MeasureLongBlock(long& length);
};

// The exports of "WNASPI32.DLL", C linkage as the published interface has them.
#include "platform/DeviceNamespace.h"
#include "wnaspi32/AspiLayer.h"

#include <memory>
#include <string>

namespace {

// A machine file may hold the layer to smaller buffers; the built-in and the
// real machines take the layer's own limit.
DWORD BufferLimit()
{
    try {
        return harrow::platform::ActiveMachine().AspiBufferLimit().value_or(AspiLayer::kDefaultBufferLimit);
    } catch (const std::exception&) {
        return AspiLayer::kDefaultBufferLimit;  // the machine itself reports what is wrong with its file
    }
}

// Made on first use; every command passes here, and a function's static is
// one test of a guard where std::call_once costs some eighty instructions.
AspiLayer& Layer()
{
    static const std::unique_ptr<AspiLayer> layer = std::make_unique<AspiLayer>(BufferLimit());
    return *layer;
}

}  // namespace

extern "C" {

DWORD GetASPI32SupportInfo()
{
    return Layer().SupportInfo();
}

DWORD SendASPI32Command(void* srb)
{
    return Layer().Send(srb);
}

BOOL GetASPI32Buffer(ASPI32BUFF* buffer)
{
    return Layer().GetBuffer(buffer);
}

BOOL FreeASPI32Buffer(ASPI32BUFF* buffer)
{
    return Layer().FreeBuffer(buffer);
}

}  // extern "C"

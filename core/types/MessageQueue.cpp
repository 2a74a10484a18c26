#include "core/types/MessageQueue.h"

#include "platform/System.h"

namespace {

constexpr int kMaxMessagesPerCall = 10;

}  // namespace

void ClearMsgQueue()
{
    // The pump never takes a message it does not process, so none is lost.
    harrow::platform::PumpMessages(kMaxMessagesPerCall);
}

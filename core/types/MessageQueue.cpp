#include "core/types/MessageQueue.h"

#include "platform/System.h"

namespace {

constexpr int MAX_MESSAGES_PER_CALL = 10;

}  // namespace

void ClearMsgQueue()
{
    // The pump never takes a message it does not process, so none is lost.
    harrow::platform::PumpMessages(MAX_MESSAGES_PER_CALL);
}

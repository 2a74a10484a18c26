// "NOXCOMM.DLL": the exports of the Nox interface library.
#include "noxcomm/NoxService.h"

extern "C" {

DWORD NoxInitLibrary()
{
    return NoxService::Instance().Init();
}

DWORD NoxTermLibrary()
{
    return NoxService::Instance().Term();
}

DWORD NoxHaEnum(void* buffer, DWORD* size)
{
    return NoxService::Instance().HaEnum(buffer, size);
}

DWORD NoxRefresh(DWORD adapterId)
{
    return NoxService::Instance().Refresh(adapterId);
}

DWORD NoxEnumerate(void* buffer, DWORD* size)
{
    return NoxService::Instance().Enumerate(buffer, size);
}

DWORD NoxExecuteIOCmd(DWORD deviceHandle, void* request)
{
    return NoxService::Instance().Execute(deviceHandle, static_cast<NoxRequest_s*>(request));
}

DWORD NoxGetCompletion(void* request, DWORD wait)
{
    return NoxService::Instance().Completion(static_cast<NoxRequest_s*>(request), wait != 0);
}

DWORD NoxBufferGet(DWORD size, void** address)
{
    return NoxService::Instance().BufferGet(size, address);
}

DWORD NoxBufferRelease(void* address)
{
    return NoxService::Instance().BufferRelease(address);
}

DWORD NoxBufferReleaseAll()
{
    return NoxService::Instance().BufferReleaseAll();
}

LONG NoxBufferGetStats(NoxBufferStats_s* stats)
{
    return NoxService::Instance().BufferGetStats(stats);
}

}  // extern "C"

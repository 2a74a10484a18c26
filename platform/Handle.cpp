#include "platform/Handle.h"

#include "platform/Kernel.h"
#include "platform/SpinLock.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace harrow::platform {
namespace {

struct HandleTable {
    SpinLock lock;  // every DeviceIoControl looks its handle up
    std::unordered_map<std::uintptr_t, KernelObject*> objects;
    std::uintptr_t next = 0x100;
};

HandleTable& Table()
{
    static HandleTable* table = new HandleTable;  // outlives every static destructor
    return *table;
}

}  // namespace

void KernelObject::Release()
{
    if (m_refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        delete this;
    }
}

HANDLE MakeHandle(KernelObject* object)
{
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    std::uintptr_t value = table.next;
    table.next += 4;
    table.objects.emplace(value, object);
    return reinterpret_cast<HANDLE>(value);
}

KernelObject* ReferenceHandle(HANDLE handle)
{
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == table.objects.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    found->second->AddRef();
    return found->second;
}

}  // namespace harrow::platform

using harrow::platform::KernelObject;

BOOL CloseHandle(HANDLE handle)
{
    auto& table = harrow::platform::Table();
    KernelObject* object = nullptr;
    {
        std::lock_guard guard(table.lock);
        auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
        if (found == table.objects.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object = found->second;
        table.objects.erase(found);
    }
    object->Release();
    return TRUE;
}

HANDLE GetCurrentProcess()
{
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));
}

BOOL DuplicateHandle(HANDLE, HANDLE source, HANDLE, HANDLE* target, DWORD, BOOL, DWORD)
{
    KernelObject* object = harrow::platform::ReferenceHandle(source);
    if (object == nullptr || target == nullptr) {
        if (object != nullptr) {
            object->Release();
        }
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *target = harrow::platform::MakeHandle(object);
    return TRUE;
}

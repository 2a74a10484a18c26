// Every HANDLE the platform hands out points at one reference-counted kernel
// object; CloseHandle drops the caller's reference.
#pragma once

#include "platform/WinTypes.h"

#include <atomic>

namespace harrow::platform {

class KernelObject {
public:
    KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;
    virtual ~KernelObject() = default;

    void AddRef() { m_refs.fetch_add(1, std::memory_order_relaxed); }
    void Release();

private:
    std::atomic<int> m_refs{1};
};

// Registers a new object and returns its handle (the handle owns one reference).
HANDLE MakeHandle(KernelObject* object);

// The object behind a handle with an extra reference, or null (last error
// ERROR_INVALID_HANDLE) when the handle is not open. Callers Release() it.
KernelObject* ReferenceHandle(HANDLE handle);

// Typed form of ReferenceHandle: null when the handle is of another kind.
template <class T>
T* ReferenceHandleAs(HANDLE handle);

}  // namespace harrow::platform

BOOL CloseHandle(HANDLE handle);
BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, HANDLE* target,
                     DWORD access, BOOL inherit, DWORD options);
HANDLE GetCurrentProcess();

template <class T>
T* harrow::platform::ReferenceHandleAs(HANDLE handle)
{
    KernelObject* object = ReferenceHandle(handle);
    if (object == nullptr) {
        return nullptr;
    }
    if (T* typed = dynamic_cast<T*>(object)) {
        return typed;
    }
    object->Release();
    return nullptr;
}

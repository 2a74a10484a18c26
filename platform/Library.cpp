#include "platform/Library.h"

#include "platform/HostPath.h"
#include "platform/Kernel.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <string>
#include <unistd.h>

namespace {

std::string ExecutablePath()
{
    char path[4096];
    ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

std::string ExecutableFolder()
{
    std::string path = ExecutablePath();
    return path.substr(0, path.find_last_of('/'));
}

bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// Win32 semantics: the text cut to size - 1 characters and terminated; the
// length copied, or size when it did not fit.
DWORD CopyTruncated(const std::string& text, LPSTR buffer, DWORD size)
{
    if (buffer == nullptr || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::size_t copied = std::min<std::size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), copied);
    buffer[copied] = '\0';
    if (copied < text.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    return static_cast<DWORD>(copied);
}

HMODULE LoadFile(const std::string& path)
{
    if (!FileExists(path)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        return module;
    }
    // A library that is there but will not load is worth telling about.
    std::fprintf(stderr, "harrow: cannot load %s: %s\n", path.c_str(), ::dlerror());
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

}  // namespace

namespace harrow::platform {

std::string SharedObjectName(const std::string& dllName)
{
    std::size_t folder = dllName.find_last_of("\\/");
    std::string stem = folder == std::string::npos ? dllName : dllName.substr(folder + 1);
    std::transform(stem.begin(), stem.end(), stem.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (stem.ends_with(".dll")) {
        stem.resize(stem.size() - 4);
    }
    return "lib" + stem + ".so";
}

}  // namespace harrow::platform

HMODULE LoadLibraryA(LPCSTR fileName)
{
    if (fileName == nullptr || *fileName == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // A name with a folder is that file and no other, as on Windows.
    if (std::strpbrk(fileName, "\\/") != nullptr) {
        return LoadFile(harrow::platform::HostPath(fileName));
    }
    std::string name = harrow::platform::SharedObjectName(fileName);
    std::string beside = ExecutableFolder() + "/" + name;
    if (FileExists(beside)) {
        return LoadFile(beside);
    }
    if (void* module = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        return module;
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

BOOL FreeLibrary(HMODULE module)
{
    if (module == nullptr || ::dlclose(module) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName)
{
    // Names only: an "address" below 0x10000 is an ordinal, which we do not export.
    if (module == nullptr || reinterpret_cast<std::uintptr_t>(procName) < 0x10000) {
        SetLastError(module == nullptr ? ERROR_INVALID_HANDLE : ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* symbol = ::dlsym(module, procName);
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size)
{
    std::string path;
    if (module == nullptr) {
        path = ExecutablePath();
    } else {
        link_map* map = nullptr;
        if (::dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr) {
            path = map->l_name;
        }
    }
    if (path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    return CopyTruncated(path, fileName, size);
}

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size)
{
    if (buffer == nullptr || size <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    buffer[0] = '\0';
    using Lookup = const char* (*)(unsigned);
    void* module = instance != nullptr ? instance : ::dlopen(nullptr, RTLD_NOW);
    auto lookup = reinterpret_cast<Lookup>(::dlsym(module, "HarrowResourceString"));
    if (instance == nullptr) {
        ::dlclose(module);
    }
    const char* text = lookup != nullptr ? lookup(id) : nullptr;
    if (text == nullptr) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    std::size_t copied = std::min<std::size_t>(std::strlen(text), static_cast<std::size_t>(size) - 1);
    std::memcpy(buffer, text, copied);
    buffer[copied] = '\0';
    return static_cast<int>(copied);
}

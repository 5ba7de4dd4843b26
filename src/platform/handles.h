// Owners for Windows handles, one per kind, so that no path (cancel and
// error paths included) can leak one. Each type knows its own invalid value.
#pragma once

#include <windows.h>

#include <bcrypt.h>

#include <utility>

namespace clearon {

template <typename Traits>
class UniqueHandle {
public:
    using Native = typename Traits::Native;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Native handle) noexcept : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    [[nodiscard]] Native get() const noexcept { return handle_; }
    [[nodiscard]] bool valid() const noexcept { return handle_ != Traits::Invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    // For APIs that return the handle through a pointer.
    [[nodiscard]] Native* put() noexcept {
        reset();
        return &handle_;
    }
    Native release() noexcept { return std::exchange(handle_, Traits::Invalid()); }
    void reset(Native handle = Traits::Invalid()) noexcept {
        if (valid()) Traits::Close(handle_);
        handle_ = handle;
    }

private:
    Native handle_ = Traits::Invalid();
};

struct RegistryKeyTraits {
    using Native = HKEY;
    static Native Invalid() noexcept { return nullptr; }
    static void Close(Native key) noexcept { RegCloseKey(key); }
};

// Kernel handles that are invalid at NULL: processes, threads, events.
struct KernelHandleTraits {
    using Native = HANDLE;
    static Native Invalid() noexcept { return nullptr; }
    static void Close(Native handle) noexcept { CloseHandle(handle); }
};

// Kernel handles that are invalid at INVALID_HANDLE_VALUE: files, snapshots.
struct FileHandleTraits {
    using Native = HANDLE;
    static Native Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Native handle) noexcept { CloseHandle(handle); }
};

struct LibraryTraits {
    using Native = HMODULE;
    static Native Invalid() noexcept { return nullptr; }
    static void Close(Native module) noexcept { FreeLibrary(module); }
};

// Memory Windows allocated for the caller with LocalAlloc (a security
// descriptor from its text form, a SID's text).
struct LocalMemoryTraits {
    using Native = HLOCAL;
    static Native Invalid() noexcept { return nullptr; }
    static void Close(Native memory) noexcept { LocalFree(memory); }
};

// A private namespace (CreatePrivateNamespaceW, OpenPrivateNamespaceW) and
// a boundary descriptor. Their functions are looked up at run time: not
// every Windows build (nor Wine) has them, and a handle exists only where
// they were found.
struct PrivateNamespaceTraits {
    using Native = HANDLE;
    static Native Invalid() noexcept { return nullptr; }
    static void Close(Native handle) noexcept {
        using Function = BOOLEAN(WINAPI*)(HANDLE, ULONG);
        const auto close = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "ClosePrivateNamespace")));
        if (close != nullptr) (void)close(handle, 0);  // 0: the namespace stays for others
    }
};
struct BoundaryDescriptorTraits {
    using Native = HANDLE;
    static Native Invalid() noexcept { return nullptr; }
    static void Close(Native handle) noexcept {
        using Function = VOID(WINAPI*)(HANDLE);
        const auto remove = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "DeleteBoundaryDescriptor")));
        if (remove != nullptr) remove(handle);
    }
};

// A directory search (FindFirstFileW), closed with FindClose.
struct FindHandleTraits {
    using Native = HANDLE;
    static Native Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Native search) noexcept { FindClose(search); }
};

// An event log source (RegisterEventSourceW), closed with
// DeregisterEventSource.
struct EventSourceTraits {
    using Native = HANDLE;
    static Native Invalid() noexcept { return nullptr; }
    static void Close(Native source) noexcept { DeregisterEventSource(source); }
};

// Windows' cryptography: an algorithm provider and a hash object made from it
// (the hash goes first, so its owner is declared after the provider's).
struct AlgorithmProviderTraits {
    using Native = BCRYPT_ALG_HANDLE;
    static Native Invalid() noexcept { return nullptr; }
    static void Close(Native provider) noexcept { (void)BCryptCloseAlgorithmProvider(provider, 0); }
};
struct HashTraits {
    using Native = BCRYPT_HASH_HANDLE;
    static Native Invalid() noexcept { return nullptr; }
    static void Close(Native hash) noexcept { (void)BCryptDestroyHash(hash); }
};

using UniqueAlgorithmProvider = UniqueHandle<AlgorithmProviderTraits>;
using UniqueHash = UniqueHandle<HashTraits>;
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;
using UniqueKey = UniqueHandle<RegistryKeyTraits>;
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;
using UniquePrivateNamespace = UniqueHandle<PrivateNamespaceTraits>;
using UniqueBoundaryDescriptor = UniqueHandle<BoundaryDescriptorTraits>;
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;
using UniqueSnapshot = UniqueHandle<FileHandleTraits>;
using UniqueLibrary = UniqueHandle<LibraryTraits>;
using UniqueEventSource = UniqueHandle<EventSourceTraits>;

// The pair CreateProcessW fills in: both handles are closed with it.
struct UniqueProcessInformation {
    UniqueKernelHandle process;
    UniqueKernelHandle thread;
    DWORD processId = 0;
    DWORD threadId = 0;

    void Adopt(const PROCESS_INFORMATION& info) noexcept {
        process.reset(info.hProcess);
        thread.reset(info.hThread);
        processId = info.dwProcessId;
        threadId = info.dwThreadId;
    }
};

// A thread this process created, with its id. The handle is closed when the
// owner is reset or destroyed; the id goes with it.
struct UniqueThread {
    UniqueKernelHandle handle;
    DWORD id = 0;

    [[nodiscard]] HANDLE get() const noexcept { return handle.get(); }
    explicit operator bool() const noexcept { return handle.valid(); }
    void Adopt(HANDLE thread, DWORD threadId) noexcept {
        handle.reset(thread);
        id = threadId;
    }
    void reset() noexcept { Adopt(nullptr, 0); }
};

}  // namespace clearon

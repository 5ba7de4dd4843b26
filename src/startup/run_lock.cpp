#include "startup/run_lock.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <string>

#include "log/log_texts.h"
#include "log/run_log.h"
#include "startup/log_file_path.h"
#include "startup/startup_rules.h"

namespace clearon {
namespace {

// Owned by the Administrators; SYSTEM and the Administrators may use it,
// nobody else, nothing inherited. An ordinary user can then neither take
// the name from a run nor hold it open against the next one.
constexpr wchar_t kRunNameSecurity[] = L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";
// The same without the owner, for a token that may not name the
// Administrators as owner.
constexpr wchar_t kRunNameSecurityNoOwner[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";
// The private namespace and the name inside it. Its boundary holds the
// Administrators, so only a process with that group enabled can create it:
// nobody else can make the name first.
constexpr wchar_t kNamespaceAlias[] = L"Clearon";
constexpr wchar_t kNamespacedRunName[] = L"Clearon\\Clearon.Run";

template <typename Function>
Function Kernel32Function(const char* name) noexcept {
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

// The private namespace, created or opened; nothing where Windows lacks the
// functions (Wine, where AddSIDToBoundaryDescriptor called through an
// import would even end the process) or refuses them (a token without the
// Administrators). The caller then uses the global name.
UniquePrivateNamespace OpenRunNamespace(SECURITY_ATTRIBUTES* security) noexcept {
    using CreateBoundary = HANDLE(WINAPI*)(LPCWSTR, ULONG);
    using AddSid = BOOL(WINAPI*)(HANDLE*, PSID);
    using CreateNamespace = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
    using OpenNamespace = HANDLE(WINAPI*)(LPVOID, LPCWSTR);
    const auto createBoundary = Kernel32Function<CreateBoundary>("CreateBoundaryDescriptorW");
    const auto addSid = Kernel32Function<AddSid>("AddSIDToBoundaryDescriptor");
    const auto createNamespace = Kernel32Function<CreateNamespace>("CreatePrivateNamespaceW");
    const auto openNamespace = Kernel32Function<OpenNamespace>("OpenPrivateNamespaceW");
    if (createBoundary == nullptr || addSid == nullptr || createNamespace == nullptr ||
        openNamespace == nullptr) {
        return {};
    }
    UniqueBoundaryDescriptor boundary(createBoundary(kNamespaceAlias, 0));
    if (!boundary) return {};
    BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
    DWORD sidSize = sizeof(administrators);
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize)) {
        return {};
    }
    // Adding a SID may move the descriptor; its owner follows it.
    HANDLE grown = boundary.get();
    if (!addSid(&grown, administrators)) return {};
    (void)boundary.release();
    boundary.reset(grown);
    UniquePrivateNamespace space(createNamespace(security, boundary.get(), kNamespaceAlias));
    if (space || GetLastError() != ERROR_ALREADY_EXISTS) return space;
    return UniquePrivateNamespace(openNamespace(boundary.get(), kNamespaceAlias));
}

// True when the object's owner is neither SYSTEM nor the Administrators: an
// ordinary user made the name, and no Clearon run holds it. Unknown counts
// as not: the wait is the same either way.
bool HeldBySomeoneElse(HANDLE object) noexcept {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    const UniqueLocalMemory heldDescriptor(descriptor);
    LPWSTR text = nullptr;
    if (owner == nullptr || !ConvertSidToStringSidW(owner, &text)) return false;
    const UniqueLocalMemory heldText(text);
    return !IsRunNameOwnerTrusted(text);
}

UniqueKernelHandle CreateRunMutex(SECURITY_ATTRIBUTES* security, const wchar_t* name) noexcept {
    UniqueKernelHandle mutex(CreateMutexW(security,
                                          FALSE,  // not owned yet: taken by the wait
                                          name));
    if (mutex || GetLastError() != ERROR_ACCESS_DENIED) return mutex;
    // Made first by someone whose rules deny us full access: waiting on it
    // and reading its owner is all this start needs.
    mutex.reset(OpenMutexW(SYNCHRONIZE | READ_CONTROL, FALSE, name));
    if (!mutex) mutex.reset(OpenMutexW(SYNCHRONIZE, FALSE, name));
    return mutex;
}

}  // namespace

// Two runs at once would both set the machine's pending renames aside and
// interleave their uninstallers, so a start waits for a run already in
// progress, in any session, to end. The mutex is held until the process
// ends; one that a killed run left behind is handed over as abandoned, which
// is as good as free. Without the mutex (it cannot be made) the start goes
// on as it always did.
RunLock WaitForOtherRuns(std::uint32_t limitMinutes) {
    RunLock lock;
    UniqueLocalMemory descriptor;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kRunNameSecurity, SDDL_REVISION_1,
                                                             &raw, nullptr)) {
        descriptor.reset(raw);
    }
    SECURITY_ATTRIBUTES security{sizeof(security), descriptor.get(), FALSE};
    SECURITY_ATTRIBUTES* attributes = descriptor ? &security : nullptr;

    lock.privateNamespace = OpenRunNamespace(attributes);
    const wchar_t* name = lock.privateNamespace ? kNamespacedRunName : kRunMutexName;
    lock.mutex = CreateRunMutex(attributes, name);
    if (!lock.mutex && GetLastError() == ERROR_INVALID_OWNER) {
        raw = nullptr;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kRunNameSecurityNoOwner,
                                                                 SDDL_REVISION_1, &raw, nullptr)) {
            descriptor.reset(raw);
            security.lpSecurityDescriptor = raw;
            lock.mutex = CreateRunMutex(&security, name);
        }
    }
    if (!lock.mutex) return lock;
    if (WaitForSingleObject(lock.mutex.get(), 0) != WAIT_TIMEOUT) return lock;

    // The run log's own path, so the lines are found where the administrator
    // looks; they stand inside the other run's entries, which they concern.
    BuildLogFilePath(LogFileStart::PathOnly);
    lock.waited = true;
    if (limitMinutes > 0) LogTimestamped(kLogWaitingForOther);
    if (HeldBySomeoneElse(lock.mutex.get())) LogTimestamped(kLogRunNameHeldBySomeoneElse);
    // 99999 minutes do not fit one wait's milliseconds: the wait goes on in
    // slices until the limit has passed.
    const ULONGLONG limitMs = static_cast<ULONGLONG>(limitMinutes) * 60u * 1000u;
    const ULONGLONG began = GetTickCount64();
    DWORD result = WAIT_TIMEOUT;
    for (ULONGLONG waitedMs = 0; result == WAIT_TIMEOUT && waitedMs < limitMs;
         waitedMs = GetTickCount64() - began) {
        const ULONGLONG slice = std::min<ULONGLONG>(limitMs - waitedMs, 0x7FFFFFFFu);
        result = WaitForSingleObject(lock.mutex.get(), static_cast<DWORD>(slice));
    }
    switch (result) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:
            return lock;
        case WAIT_TIMEOUT:
            try {
                LogTimestamped(std::wstring(kLogOtherRunTimeLimitPassed) +
                               std::to_wstring(limitMinutes) +
                               std::wstring(kLogOtherRunTimeLimitEnd));
            } catch (...) {
                // Without memory for the line the exit code still says it.
            }
            lock.timedOut = true;
            return lock;
        default:
            lock.mutex.reset();
            return lock;
    }
}

}  // namespace clearon

#include "config/config_loader.h"

#include <windows.h>

#include <cstdint>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "config/config_file.h"
#include "log/run_log.h"
#include "platform/handles.h"

namespace clearon {
namespace {

// Reads `size` bytes from the file's current position in one call. Success
// is the call's own result: a short read is not an error, the bytes that did
// not arrive simply end the text there.
[[nodiscard]] bool ReadWholeFile(HANDLE file, DWORD size, std::vector<std::uint8_t>& bytes) {
    bytes.assign(size, 0);
    DWORD read = 0;
    if (!ReadFile(file, bytes.data(), size, &read, nullptr)) return false;
    bytes.resize(read);
    return true;
}

// Everything that needs the open file. Returns 0 with `configText` filled,
// or an exit code; the handle is closed when this returns, before the caller
// reports anything.
[[nodiscard]] int ReadConfigFile(std::wstring& configText, std::vector<std::uint8_t>* fileBytes) {
    const std::wstring name(kConfigFileName);  // relative: resolved in the executable's directory
    if (GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES) return kExitConfigMissing;

    UniqueFileHandle file(CreateFileW(name.c_str(), GENERIC_READ,
                                      0,  // no sharing: nobody may change the file while it is read
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return kExitConfigOpenFailed;

    (void)SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);

    // The high part is asked for too: with the low 32 bits alone a file of
    // 4 GiB and 10 bytes would pass as a 10-byte file and be read as one.
    // A failed size query reads as "too large", as its 0xFFFFFFFF would.
    DWORD high = 0;
    const DWORD low = GetFileSize(file.get(), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return kExitConfigTooLarge;
    const std::uint64_t size = (static_cast<std::uint64_t>(high) << 32) | low;
    if (const int sizeResult = CheckConfigFileSize(size); sizeResult != 0) return sizeResult;

    std::vector<std::uint8_t> firstRead;
    if (!ReadWholeFile(file.get(), low, firstRead)) return kExitConfigReadFailed;
    if (fileBytes != nullptr) *fileBytes = firstRead;

    // The file is read a second time, as single-byte text, only when the
    // UTF-16 reading is not a configuration.
    int result = DecodeConfigBytes(firstRead, nullptr, configText);
    if (result != kExitConfigBadFormat) return result;

    (void)SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
    std::vector<std::uint8_t> secondRead;
    if (ReadWholeFile(file.get(), low, secondRead)) {
        const std::span<const std::uint8_t> second(secondRead);
        result = DecodeConfigBytes(firstRead, &second, configText);
    } else {
        // A failed second read is a file that is not a configuration we
        // could read as one: the format error, not the read error.
        result = DecodeConfigBytes(firstRead, nullptr, configText);
    }
    return result;
}

}  // namespace

int LoadConfigFile(std::wstring& configText, MessageSink sink,
                   std::vector<std::uint8_t>* fileBytes) noexcept {
    int result = 0;
    try {
        result = ReadConfigFile(configText, fileBytes);
    } catch (const std::bad_alloc&) {
        // 64 KiB of buffers could not be had: the file was not read.
        result = kExitConfigReadFailed;
    }
    if (result != 0) {
        configText.clear();
        ReportMessage(ConfigErrorMessage(result), sink);
    }
    return result;
}

}  // namespace clearon

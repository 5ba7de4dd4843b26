// How long one full discovery pass takes per product name, beside the least
// any reader of the same registry data could do.
//
// It fills the machine's Uninstall key and the installer's UserData with
// synthetic entries (half each), then, for product names that match
// nothing, times ScanForProduct (every root, the Wow6432Node twins included,
// opening keys for each single read as Clearon does) against a minimal
// reader that walks the same roots once per name through held keys and
// reads each DisplayName once. It removes its entries before it ends.
//
//   discovery_bench.exe [entries=2000] [names=20]
#include <windows.h>

#include <chrono>
#include <optional>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "config/settings.h"
#include "platform/handles.h"
#include "removal/product_discovery.h"
#include "platform/windows_registry.h"

namespace {

using clearon::UniqueKey;
using Clock = std::chrono::steady_clock;

const std::wstring kUninstall(clearon::kUninstallRoot);
const std::wstring kUserData(clearon::kInstallerUserDataRoot);
const std::wstring kBenchSid = L"S-1-5-21-1000-2000-3000-4242";
const std::wstring kBenchUninstallPrefix = L"ClearonBench";

bool CreateWithValue(const std::wstring& key, const std::wstring& name, const std::wstring& data) {
    UniqueKey handle;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        handle.put(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExW(handle.get(), name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

std::wstring Numbered(const wchar_t* format, int n) {
    wchar_t buffer[64] = {};
    std::swprintf(buffer, 64, format, n);
    return buffer;
}

void RemoveEntries(int entries) {
    for (int i = 0; i < entries; ++i) {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                       (kUninstall + L"\\" + Numbered(L"ClearonBench%05d", i)).c_str());
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kUserData + L"\\" + kBenchSid).c_str());
}

bool AddEntries(int entries) {
    for (int i = 0; i < entries; ++i) {
        const std::wstring display = Numbered(L"Synthetic Product %05d", i);
        if (i % 2 == 0) {
            const std::wstring key = kUninstall + L"\\" + Numbered(L"ClearonBench%05d", i);
            if (!CreateWithValue(key, L"DisplayName", display) ||
                !CreateWithValue(key, L"UninstallString", L"C:\\bench\\remove.exe")) {
                return false;
            }
        } else {
            const std::wstring product = kUserData + L"\\" + kBenchSid + L"\\Products\\" +
                                         Numbered(L"00000000000000000000000000%06d", i);
            if (!CreateWithValue(product + L"\\InstallProperties", L"DisplayName", display) ||
                !CreateWithValue(product + L"\\Features", L"Main", L"")) {
                return false;
            }
        }
    }
    return true;
}

// The least a reader of the same data does: each root opened once and held,
// its subkeys enumerated through that handle, each entry opened once and its
// DisplayName read once.
int ReadDisplayNamesBelow(HKEY root, const std::wstring& path, const wchar_t* below,
                          const std::wstring& productName) {
    UniqueKey held;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, held.put()) != ERROR_SUCCESS) return 0;
    int matches = 0;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(held.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        UniqueKey entry;
        const std::wstring sub = std::wstring(name) + below;
        if (RegOpenKeyExW(held.get(), sub.c_str(), 0, KEY_QUERY_VALUE, entry.put()) !=
            ERROR_SUCCESS) {
            continue;
        }
        wchar_t display[256] = {};
        DWORD size = sizeof(display) - sizeof(wchar_t);
        DWORD type = 0;
        if (RegQueryValueExW(entry.get(), L"DisplayName", nullptr, &type,
                             reinterpret_cast<BYTE*>(display), &size) == ERROR_SUCCESS &&
            wcsstr(display, productName.c_str()) != nullptr) {
            ++matches;
        }
    }
    return matches;
}

int MinimalReader(const std::wstring& productName) {
    int matches = 0;
    for (const std::wstring& userData :
         {kUserData, std::wstring(clearon::kInstallerUserDataRoot32)}) {
        UniqueKey held;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, userData.c_str(), 0, KEY_READ, held.put()) !=
            ERROR_SUCCESS) {
            continue;
        }
        wchar_t sid[256];
        for (DWORD index = 0;; ++index) {
            DWORD length = 256;
            if (RegEnumKeyExW(held.get(), index, sid, &length, nullptr, nullptr, nullptr,
                              nullptr) != ERROR_SUCCESS) {
                break;
            }
            matches += ReadDisplayNamesBelow(held.get(), std::wstring(sid) + L"\\Products",
                                             L"\\InstallProperties", productName);
        }
    }
    for (const std::wstring& uninstall : {kUninstall, std::wstring(clearon::kUninstallRoot32)}) {
        matches += ReadDisplayNamesBelow(HKEY_LOCAL_MACHINE, uninstall, L"", productName);
    }
    return matches;
}

// The real registry; nothing is ever run or asked, whatever matches: a
// benchmark must not uninstall anything.
class BenchHost final : public clearon::RemovalHost {
public:
    int launches = 0;
    clearon::Registry& registry() override { return clearon::SystemRegistry(); }
    // Discovery moves no pending renames.
    clearon::BootWitness& bootWitness() override { return noWitness_; }
    clearon::LaunchResult RunProgram(std::wstring_view, bool) override {
        ++launches;
        return {};
    }
    void Pause(std::chrono::milliseconds) override {}
    clearon::QuestionAnswer AskQuestion(std::wstring_view) override {
        return clearon::QuestionAnswer::No;
    }
    void PostStatus(std::wstring_view) override {}
    void AppendToLog(std::wstring_view) override {}
    std::wstring CurrentTimestamp() override { return {}; }
    bool FileExists(std::wstring_view) override { return false; }
    std::optional<std::wstring> EnvironmentVariable(std::wstring_view) override {
        return std::nullopt;
    }

private:
    clearon::NoBootWitness noWitness_;
};

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int entries = argc > 1 ? _wtoi(argv[1]) : 2000;
    const int names = argc > 2 ? _wtoi(argv[2]) : 20;
    if (entries <= 0 || names <= 0) {
        std::fwprintf(stderr, L"usage: discovery_bench.exe [entries] [names]\n");
        return 2;
    }

    RemoveEntries(entries);
    if (!AddEntries(entries)) {
        std::fwprintf(stderr, L"could not create the synthetic entries (run as administrator)\n");
        RemoveEntries(entries);
        return 1;
    }

    clearon::Settings settings;
    clearon::RemovalState state;
    BenchHost host;
    clearon::RemovalContext context{host, state, settings, L"", true};

    // One untimed pass of each warms the registry caches for both alike.
    clearon::ScanForProduct(context, L"Warm-up Name That Matches Nothing");
    static_cast<void>(MinimalReader(L"Warm-up Name That Matches Nothing"));

    Clock::duration scanTotal{};
    Clock::duration minimalTotal{};
    int minimalMatches = 0;
    for (int n = 0; n < names; ++n) {
        const std::wstring name = Numbered(L"Absent Product %02d", n);
        const auto a = Clock::now();
        clearon::ScanForProduct(context, name);
        const auto b = Clock::now();
        minimalMatches += MinimalReader(name);
        const auto c = Clock::now();
        scanTotal += b - a;
        minimalTotal += c - b;
    }
    RemoveEntries(entries);

    const double scan = Seconds(scanTotal) * 1000.0 / names;
    const double minimal = Seconds(minimalTotal) * 1000.0 / names;
    std::wprintf(L"entries: %d (half Uninstall, half Installer UserData), names: %d\n", entries,
                 names);
    std::wprintf(L"ScanForProduct:  %8.1f ms per name\n", scan);
    std::wprintf(L"minimal reader:  %8.1f ms per name\n", minimal);
    std::wprintf(L"ratio:           %8.2f\n", minimal > 0 ? scan / minimal : 0.0);
    std::wprintf(L"launches: %d, matches of the minimal reader: %d (both must be 0)\n",
                 host.launches, minimalMatches);
    return 0;
}

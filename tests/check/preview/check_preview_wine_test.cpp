// ClearonCheck preview under Wine, on a prefix with real products installed
// (the Windows Installer package and the NSIS setup of tests/fixtures, and a
// 32-bit product whose command names the system directory): the preview
// lists exactly the command lines that a real silent Clearon run on the same
// prefix then logs, and it leaves the registry and the files as they were.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <windows.h>

#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/platform_info.h"
#include "check/check_wine.h"
#include "support/win/fixture_products.h"
#include "support/win/wine_test_support.h"

namespace clearon::test {
namespace {

using namespace std::chrono_literals;

const std::wstring kUninstall32Key =
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::wstring kWombat32Entry = kUninstall32Key + L"\\ClearonCheckWombat32";
const std::wstring kMakersEntry = L"ClearonCheckTessaralWombat";
const std::wstring kWombat32Program = L"clearon_check_wombat32.exe";

// Everything below a key, values with their types and bytes, in a stable
// text form; "(none)" when the key does not exist.
void DumpKey(HKEY root, const std::wstring& path, std::wostringstream& out) {
    UniqueKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        out << path << L" (none)\n";
        return;
    }
    out << path << L"\n";
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD nameLength = 16384;
        std::vector<BYTE> data(65536);
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type, data.data(),
                          &dataLength) != ERROR_SUCCESS) {
            break;
        }
        out << L"  " << std::wstring(name, nameLength) << L" " << type << L" ";
        for (DWORD i = 0; i < dataLength; ++i) out << std::hex << data[i] << L'.';
        out << std::dec << L"\n";
    }
    std::vector<std::wstring> subkeys;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key.get(), index, name, &nameLength, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS) {
            break;
        }
        subkeys.emplace_back(name, nameLength);
    }
    key.reset();
    for (const std::wstring& subkey : subkeys) DumpKey(root, path + L"\\" + subkey, out);
}

void DumpFiles(const std::wstring& folder, std::wostringstream& out) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    std::vector<std::wstring> folders;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        out << folder << L"\\" << name << L" " << found.nFileSizeLow << L" "
            << found.ftLastWriteTime.dwLowDateTime << L"\n";
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            folders.push_back(folder + L"\\" + name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    for (const std::wstring& sub : folders) DumpFiles(sub, out);
}

std::wstring WindowsFolder(UINT (*get)(LPWSTR, UINT)) {
    wchar_t buffer[MAX_PATH] = {};
    get(buffer, MAX_PATH);
    return buffer;
}

class CheckPreviewWine : public ::testing::Test {
protected:
    ScratchDir dir{L"check-preview"};
    std::wstring wow64 = WindowsFolder(GetSystemWow64DirectoryW);
    std::wstring system = WindowsFolder(GetSystemDirectoryW);

    void SetUp() override {
        Wipe();
        InstallMsiProduct();
        InstallNsisProduct();
        // A 32-bit product: its command names the system directory, which
        // the runner turns into the 32-bit one, where the program really is.
        CopyFileOrFail(TestProgramPath(L"test_uninstaller.exe"), wow64 + L"\\" + kWombat32Program);
        SetString(HKEY_LOCAL_MACHINE, kWombat32Entry, L"DisplayName", L"Wombat Check 32");
        SetString(HKEY_LOCAL_MACHINE, kWombat32Entry, L"UninstallString",
                  system + L"\\" + kWombat32Program + L" /delete-key=HKLM\\" + kWombat32Entry);
        // The maker's own product is left alone.
        RegisterScriptedProduct(kMakersEntry, L"Tessaral Wombat Check", true);
    }
    void TearDown() override { Wipe(); }

    void Wipe() {
        RemoveMsiProductQuietly();
        RemoveNsisProductQuietly();
        DeleteTree(HKEY_LOCAL_MACHINE, kWombat32Entry);
        DeleteTree(HKEY_LOCAL_MACHINE, ScriptedProductEntry(kMakersEntry));
        DeleteFileW((wow64 + L"\\" + kWombat32Program).c_str());
    }

    std::wstring Snapshot() const {
        std::wostringstream out;
        for (const std::wstring& key :
             {kUninstallKey, kUninstall32Key,
              std::wstring(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer"),
              std::wstring(L"SOFTWARE\\Tessaral"),
              std::wstring(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce"),
              std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\Session Manager")}) {
            DumpKey(HKEY_LOCAL_MACHINE, key, out);
        }
        DumpKey(HKEY_CURRENT_USER, L"Software\\Tessaral", out);
        DumpKey(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", out);
        DumpFiles(dir.path(), out);
        DumpFiles(wow64, out);
        DumpFiles(L"C:\\Program Files", out);
        return out.str();
    }

    void WriteConfig(const std::wstring& text) const {
        WriteAnsi(dir / L"Clearon.ini", Narrow(text));
    }
};

TEST_F(CheckPreviewWine, ListsExactlyWhatARealRunThenRunsAndChangesNothing) {
    WriteConfig(
        L"[Settings]\r\n"
        L"ShowGUI=N\r\n"
        L"AskBeforeRemoval=N\r\n"
        L"DefaultExtraParameters=/S\r\n"
        L"RunBeforeRemoval=\"" +
        TestProgramPath(L"exit_with.exe") +
        L"\" 0\r\n"
        L"[ProductNames]\r\n"
        L"Zebratech Antivirus\r\n"
        L"Quokka Shield\r\n"
        L"Wombat Check\r\n"
        L"[UninstallPaths]\r\n");

    const std::wstring before = Snapshot();
    const ProcessResult preview = RunClearonCheck(L"preview", dir.path());
    ASSERT_TRUE(preview.exitCode.has_value());
    EXPECT_EQ(*preview.exitCode, 1u) << preview.standardOutput;  // something would be removed
    const ProcessResult json = RunClearonCheck(L"preview --json", dir.path());
    EXPECT_EQ(json.exitCode, std::optional<DWORD>(1u));
    const auto parsed = nlohmann::json::parse(json.standardOutput);
    EXPECT_EQ(parsed.at("schema"), "clearon-check/preview/1");
    EXPECT_EQ(parsed.at("would_remove"), 3);
    EXPECT_EQ(Snapshot(), before) << "the preview changed the registry or the files";

    const std::wstring shown = Widen(preview.standardOutput);
    const std::vector<std::wstring> previewed = TextsAfter(shown, L"    run: ", L"\r\n");
    // The fixtures' own commands as the preview must show them.
    ASSERT_EQ(previewed.size(), 4u) << preview.standardOutput;
    EXPECT_EQ(previewed[1],
              SystemDirectory() + L"\\MsiExec.exe /X" + kMsiCode + L" REMOVE=ALL REBOOT=R /qn");
    EXPECT_EQ(previewed[3],
              wow64 + L"\\" + kWombat32Program + L" /delete-key=HKLM\\" + kWombat32Entry + L" /S");
    EXPECT_NE(shown.find(L"met again"), std::wstring::npos) << preview.standardOutput;
    EXPECT_NE(shown.find(L"skipped: the maker's own product"), std::wstring::npos);

    // The real run on the same prefix launches exactly these, in this order.
    const ProcessResult run = RunClearon(dir, L"", 240s);
    ASSERT_TRUE(run.exitCode.has_value());
    EXPECT_EQ(*run.exitCode, 0u);
    const std::wstring log = ReadUtf16File(dir / (L"Clearon." + ComputerName() + L".log"));
    EXPECT_EQ(TextsAfter(log, L" Attempting to run: ", L"\r\n"), previewed) << Narrow(log);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMsiEntry));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kNsisEntry));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kWombat32Entry));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, ScriptedProductEntry(kMakersEntry)));

    // Nothing left to do: a second preview lists the program line only.
    const ProcessResult after = RunClearonCheck(L"preview", dir.path());
    EXPECT_EQ(after.exitCode, std::optional<DWORD>(0u));  // nothing would be removed
    EXPECT_EQ(TextsAfter(Widen(after.standardOutput), L"    run: ", L"\r\n").size(), 1u)
        << after.standardOutput;
}

TEST_F(CheckPreviewWine, ARefusedConfigurationGivesClearonsExitCode) {
    WriteBytes(dir / L"Clearon.ini",
               {0xEF, 0xBB, 0xBF, '[', 'S', 'e', 't', 't', 'i', 'n', 'g', 's', ']', '\r', '\n', '[',
                'P',  'r',  'o',  'd', 'u', 'c', 't', 'N', 'a', 'm', 'e', 's', ']', '\r', '\n'});
    for (const std::wstring command : {L"preview", L"lint"}) {
        const ProcessResult result = RunClearonCheck(command, dir.path());
        ASSERT_TRUE(result.exitCode.has_value());
        EXPECT_EQ(*result.exitCode, 13u) << result.standardOutput;
        EXPECT_NE(result.standardOutput.find("UTF-8 byte-order mark"), std::string::npos);
    }
    const ProcessResult missing = RunClearonCheck(L"lint nothing.ini", dir.path());
    ASSERT_TRUE(missing.exitCode.has_value());
    EXPECT_EQ(*missing.exitCode, 2u);
    EXPECT_NE(missing.standardOutput.find("The Clearon.ini file is missing."), std::string::npos);
}

}  // namespace
}  // namespace clearon::test

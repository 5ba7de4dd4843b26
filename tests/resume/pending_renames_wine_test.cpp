// The pending file-rename preservation against the real registry: real
// REG_MULTI_SZ values under the Session Manager key, through WindowsRegistry.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/windows_registry.h"
#include "resume/pending_renames.h"
#include "resume/windows_boot_witness.h"

namespace clearon {
namespace {

const std::wstring kKey(kSessionManagerKey);
BootWitness& witness = SystemBootWitness();

template <std::size_t N>
std::wstring List(const wchar_t (&characters)[N]) {
    return {characters, N - 1};
}

struct RawValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

std::optional<RawValue> ReadRaw(const std::wstring& value) {
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey.c_str(), 0, KEY_QUERY_VALUE, key.put()) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD size = 0;
    RawValue raw;
    if (RegQueryValueExW(key.get(), value.c_str(), nullptr, &raw.type, nullptr, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    raw.data.resize(size);
    if (RegQueryValueExW(key.get(), value.c_str(), nullptr, &raw.type,
                         raw.data.empty() ? nullptr : raw.data.data(), &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    raw.data.resize(size);
    return raw;
}

void WriteRaw(const std::wstring& value, const RawValue& raw) {
    UniqueKey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey.c_str(), 0, KEY_SET_VALUE, key.put()),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), value.c_str(), 0, raw.type,
                             raw.data.empty() ? nullptr : raw.data.data(),
                             static_cast<DWORD>(raw.data.size())),
              ERROR_SUCCESS);
}

void Delete(const std::wstring& value) {
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey.c_str(), 0, KEY_SET_VALUE, key.put()) ==
        ERROR_SUCCESS) {
        RegDeleteValueW(key.get(), value.c_str());
    }
}

void WriteList(const std::wstring& value, const std::wstring& characters) {
    const auto* bytes = reinterpret_cast<const BYTE*>(characters.data());
    WriteRaw(value,
             RawValue{REG_MULTI_SZ, std::vector<BYTE>(bytes, bytes + characters.size() * 2)});
}

// The value's characters, checking that it is a REG_MULTI_SZ.
std::optional<std::wstring> ReadList(const std::wstring& value) {
    const std::optional<RawValue> raw = ReadRaw(value);
    if (!raw) return std::nullopt;
    EXPECT_EQ(raw->type, static_cast<DWORD>(REG_MULTI_SZ)) << "type of the moved value";
    return std::wstring(reinterpret_cast<const wchar_t*>(raw->data.data()), raw->data.size() / 2);
}

// Whatever the prefix already has in the two values is put back afterwards.
class PendingRenamesWine : public ::testing::Test {
protected:
    void SetUp() override {
        savedSystem_ = ReadRaw(std::wstring(kPendingRenamesValue));
        savedAside_ = ReadRaw(std::wstring(kPendingRenamesAsideValue));
        Delete(std::wstring(kPendingRenamesValue));
        Delete(std::wstring(kPendingRenamesAsideValue));
    }
    void TearDown() override {
        Delete(std::wstring(kPendingRenamesValue));
        Delete(std::wstring(kPendingRenamesAsideValue));
        if (savedSystem_) WriteRaw(std::wstring(kPendingRenamesValue), *savedSystem_);
        if (savedAside_) WriteRaw(std::wstring(kPendingRenamesAsideValue), *savedAside_);
    }

private:
    std::optional<RawValue> savedSystem_;
    std::optional<RawValue> savedAside_;
};

TEST_F(PendingRenamesWine, OneRunKeepsEveryListInOrder) {
    // The start list is longer than the first 510-byte read buffer.
    std::wstring startList;
    for (int i = 0; i < 40; ++i) {
        startList +=
            L"\\??\\C:\\start\\file" + std::to_wstring(i) + L".tmp" + std::wstring(1, L'\0');
        startList +=
            L"\\??\\C:\\start\\file" + std::to_wstring(i) + L".dll" + std::wstring(1, L'\0');
    }
    startList.push_back(L'\0');
    const std::wstring uninstallList = List(L"\\??\\C:\\u\\gone.dll\0\0\0");  // a deletion
    const std::wstring installerList = List(L"\\??\\C:\\i\\a.new\0\\??\\C:\\i\\a.sys\0\0");
    const auto body = [](const std::wstring& list) { return list.substr(0, list.size() - 1); };

    Registry& registry = SystemRegistry();
    const std::wstring system(kPendingRenamesValue);
    const std::wstring aside(kPendingRenamesAsideValue);
    struct Step {
        const char* moment;
        std::function<void()> action;
        std::optional<std::wstring> system;
        std::optional<std::wstring> aside;
    };
    const Step steps[] = {
        {"start", [&] { WriteList(system, startList); }, startList, std::nullopt},
        {"before the first program", [&] { SetPendingRenamesAside(registry, witness); },
         std::nullopt, startList},
        {"after the uninstallers", [&] { WriteList(system, uninstallList); }, uninstallList,
         startList},
        // What was scheduled first stays first.
        {"before the installer", [&] { SetPendingRenamesAside(registry, witness); }, std::nullopt,
         body(startList) + uninstallList},
        {"after the installer", [&] { WriteList(system, installerList); }, installerList,
         body(startList) + uninstallList},
        {"end of the run", [&] { RestorePendingRenames(registry, witness); },
         body(startList) + body(uninstallList) + installerList, std::nullopt},
    };
    for (const Step& step : steps) {
        step.action();
        EXPECT_EQ(ReadList(system), step.system) << step.moment;
        EXPECT_EQ(ReadList(aside), step.aside) << step.moment;
    }
}

// A witness is a file only a boot or Clearon removes, and none stays behind.
TEST_F(PendingRenamesWine, WitnessIsAFileTheBootCanDelete) {
    const std::optional<std::wstring> path = witness.Create();
    ASSERT_TRUE(path.has_value());
    EXPECT_EQ(path->rfind(L"\\??\\C:\\", 0), 0U) << "a path as the boot reads it";
    EXPECT_TRUE(witness.Exists(*path));
    EXPECT_NE(witness.Create(), path);
    witness.RemoveAll();
    EXPECT_FALSE(witness.Exists(*path));
    const std::wstring folder = path->substr(4, path->rfind(L'\\') - 4);
    EXPECT_EQ(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(PendingRenamesWine, NothingPendingCreatesNothing) {
    SetPendingRenamesAside(SystemRegistry(), witness);
    RestorePendingRenames(SystemRegistry(), witness);
    EXPECT_FALSE(ReadRaw(std::wstring(kPendingRenamesValue)).has_value());
    EXPECT_FALSE(ReadRaw(std::wstring(kPendingRenamesAsideValue)).has_value());

    // A value without a pair (a lone NUL, two NULs) is deleted, never set
    // aside: Windows would append new operations behind it, never to run.
    for (const std::size_t nuls : {1, 2}) {
        WriteList(std::wstring(kPendingRenamesValue), std::wstring(nuls, L'\0'));
        SetPendingRenamesAside(SystemRegistry(), witness);
        EXPECT_FALSE(ReadRaw(std::wstring(kPendingRenamesValue)).has_value());
        EXPECT_FALSE(ReadRaw(std::wstring(kPendingRenamesAsideValue)).has_value());
    }
}

TEST_F(PendingRenamesWine, StringValueIsMovedAsMultiString) {
    const std::wstring list = List(L"\\??\\C:\\x.tmp\0\\??\\C:\\x.dll\0\0");
    const auto* bytes = reinterpret_cast<const BYTE*>(list.data());
    WriteRaw(std::wstring(kPendingRenamesValue),
             RawValue{REG_SZ, std::vector<BYTE>(bytes, bytes + list.size() * 2)});
    SetPendingRenamesAside(SystemRegistry(), witness);
    EXPECT_EQ(ReadList(std::wstring(kPendingRenamesAsideValue)), list);
    EXPECT_FALSE(ReadRaw(std::wstring(kPendingRenamesValue)).has_value());
}

}  // namespace
}  // namespace clearon

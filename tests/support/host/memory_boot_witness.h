// Boot witnesses for host tests: a set of file names, which a test's own
// model of the boot deletes.
#pragma once

#include <set>
#include <string>

#include "resume/boot_witness.h"
#include "support/host/memory_registry.h"

namespace clearon::test {

class MemoryBootWitness final : public BootWitness {
public:
    // Creating and removing are changes like the registry's own: refused
    // once its `mayChange` refuses.
    explicit MemoryBootWitness(MemoryRegistry* gate = nullptr) : gate_(gate) {}

    std::set<std::wstring> files;

    std::optional<std::wstring> Create() override {
        if (!MayChange()) return std::nullopt;
        std::wstring path = L"\\??\\C:\\Witness\\" + std::to_wstring(created_++);
        files.insert(path);
        return path;
    }
    bool Exists(std::wstring_view path) override { return files.count(std::wstring(path)) > 0; }
    void RemoveAll() override {
        while (!files.empty() && MayChange()) files.erase(files.begin());
    }

private:
    bool MayChange() { return !gate_ || !gate_->mayChange || gate_->mayChange(); }
    MemoryRegistry* gate_;
    int created_ = 0;
};

}  // namespace clearon::test

#include "removal/name_list.h"

#include "text/wide_string.h"

namespace clearon {

std::wstring MarkerFor(std::wstring_view displayName) {
    std::wstring marker;
    marker.reserve(displayName.size() + 2);
    marker.push_back(L'|');
    marker.append(displayName);
    marker.push_back(L'|');
    return marker;
}

bool ListContains(const NameList& list, std::wstring_view marker) noexcept {
    for (const std::wstring& entry : list) {
        if (EqualsNoCase(entry, marker)) return true;
    }
    return false;
}

void AddToList(NameList& list, std::wstring_view marker) {
    list.emplace_back(marker);
}

}  // namespace clearon

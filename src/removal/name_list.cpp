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

bool ListContains(std::wstring_view list, std::wstring_view marker) noexcept {
    return ContainsNoCase(list, marker);
}

void AddToList(std::wstring& list, std::wstring_view marker) {
    list.append(marker);
}

}  // namespace clearon

// Name lists: the products a run has declined, confirmed or failed to
// remove. A product is remembered under its marker "|" + display name + "|",
// and membership compares whole markers, ignoring the case of A-Z. Markers
// run together into one text and searched would let a display name holding
// "|" match another product's marker ("B|C" inside "|A|B|C|"), so one No
// could silently skip a different product.
//
// The lists grow as needed: a list that stopped growing would forget a
// product (asked again, or a failure counted twice or never taken back).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace clearon {

using NameList = std::vector<std::wstring>;

// "|" + display name + "|", whole. A display name of 253 or 254 characters
// gives a marker longer than a 255-character buffer; it is kept whole so two
// long names that differ only at their ends never share a marker.
[[nodiscard]] std::wstring MarkerFor(std::wstring_view displayName);

[[nodiscard]] bool ListContains(const NameList& list, std::wstring_view marker) noexcept;

// Appends the marker; the list is never cut.
void AddToList(NameList& list, std::wstring_view marker);

}  // namespace clearon

// Name lists: the products a run has declined, confirmed or failed to
// remove. A product is remembered under its marker "|" + display name + "|";
// a list is the markers run together, and membership is a search for the
// marker that ignores the case of A-Z. The bars keep "Acme" from being found
// inside "|Acme Pro|".
//
// The lists are std::wstring and grow as needed. The data model gives them
// 65,535 characters, but a name list that stopped growing would forget a
// product: a declined product would be asked about again, a failure would be
// counted twice or never taken back. So nothing is ever dropped at that size.
#pragma once

#include <string>
#include <string_view>

namespace clearon {

// "|" + display name + "|", whole. A display name of 253 or 254 characters
// gives a marker longer than a 255-character buffer; it is kept whole so two
// long names that differ only at their ends never share a marker.
[[nodiscard]] std::wstring MarkerFor(std::wstring_view displayName);

[[nodiscard]] bool ListContains(std::wstring_view list, std::wstring_view marker) noexcept;

// Appends the marker; the list is never cut.
void AddToList(std::wstring& list, std::wstring_view marker);

}  // namespace clearon

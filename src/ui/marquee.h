// The progress marquee of the main dialog: 24 small squares in which a block
// of three lit squares grows in from the left and then circulates while the
// worker runs. Pure decisions only; the dialog shows and hides the squares.
#pragma once

namespace clearon {

inline constexpr int kMarqueeSquareCount = 24;
// Positions run 1..26 (0 after a reset); 25 and 26 are the two steps in
// which the block wraps from the right end back to the left.
inline constexpr int kMarqueeLastPosition = 26;
// After 26 the block does not grow in again: it continues with squares 1-3.
inline constexpr int kMarqueeWrapPosition = 3;

// Whether square `square` (1..24) is lit at marquee position `position`.
[[nodiscard]] bool IsSquareLit(int square, int position) noexcept;

// The position after `position`: one further, and 3 again after 26.
[[nodiscard]] int NextMarqueePosition(int position) noexcept;

// The control id of square `square` (1..24): 1012 for the first, 1021 + k
// for the others; 0 for a square outside the marquee.
[[nodiscard]] int SquareControlId(int square) noexcept;

}  // namespace clearon

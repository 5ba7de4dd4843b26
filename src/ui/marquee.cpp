#include "ui/marquee.h"

#include "ui/resource.h"

namespace clearon {

bool IsSquareLit(int square, int position) noexcept {
    // The block covers p-2..p; past the right end its head continues on the
    // left (25 lights square 1, 26 lights squares 1 and 2).
    if (square <= position && position <= square + 2) return true;
    return position > kMarqueeSquareCount && position - kMarqueeSquareCount >= square;
}

int NextMarqueePosition(int position) noexcept {
    const int next = position + 1;
    return next > kMarqueeLastPosition ? kMarqueeWrapPosition : next;
}

int SquareControlId(int square) noexcept {
    if (square < 1 || square > kMarqueeSquareCount) return 0;
    // The first square's id does not follow the pattern of the others.
    return square == 1 ? IDC_SQUARE_FIRST : IDC_SQUARE_SECOND + (square - 2);
}

}  // namespace clearon

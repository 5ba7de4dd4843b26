// The marquee's pictures and its step, position by position.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "ui/marquee.h"
#include "ui/resource.h"

namespace clearon {
namespace {

std::set<int> LitSquares(int position) {
    std::set<int> lit;
    for (int k = 1; k <= kMarqueeSquareCount; ++k) {
        if (IsSquareLit(k, position)) lit.insert(k);
    }
    return lit;
}

struct Picture {
    int position;
    std::set<int> lit;
};

TEST(Marquee, PicturesByPosition) {
    const std::vector<Picture> pictures = {
        {0, {}},          {1, {1}},           {2, {1, 2}},        {3, {1, 2, 3}},
        {4, {2, 3, 4}},   {13, {11, 12, 13}}, {24, {22, 23, 24}}, {25, {23, 24, 1}},
        {26, {24, 1, 2}},
    };
    for (const auto& picture : pictures) {
        EXPECT_EQ(LitSquares(picture.position), picture.lit) << "position " << picture.position;
    }
}

TEST(Marquee, EveryPositionFrom3OnLightsThreeSquares) {
    for (int p = 3; p <= kMarqueeLastPosition; ++p) {
        EXPECT_EQ(LitSquares(p).size(), 3u) << "position " << p;
    }
}

TEST(Marquee, StepsOneAtATimeAndWrapsAfter26To3) {
    const std::vector<std::pair<int, int>> steps = {{0, 1},   {1, 2},   {2, 3},   {3, 4},
                                                    {23, 24}, {24, 25}, {25, 26}, {26, 3}};
    for (const auto& [from, to] : steps) {
        EXPECT_EQ(NextMarqueePosition(from), to) << "from " << from;
    }
}

TEST(Marquee, AFullTurnAfterTheWrapTakes24Steps) {
    int position = 0;
    for (int i = 0; i < 26; ++i) position = NextMarqueePosition(position);
    ASSERT_EQ(position, 26);
    position = NextMarqueePosition(position);
    EXPECT_EQ(LitSquares(position), (std::set<int>{1, 2, 3}));
    const int startOfTurn = position;
    int steps = 0;
    do {
        position = NextMarqueePosition(position);
        ++steps;
    } while (position != startOfTurn && steps < 100);
    EXPECT_EQ(steps, kMarqueeSquareCount);
}

TEST(Marquee, SquareControlIds) {
    const std::vector<std::pair<int, int>> ids = {{1, IDC_SQUARE_FIRST}, {2, 1023}, {3, 1024},
                                                  {24, IDC_SQUARE_LAST}, {0, 0},    {25, 0}};
    for (const auto& [square, id] : ids) {
        EXPECT_EQ(SquareControlId(square), id) << "square " << square;
    }
}

}  // namespace
}  // namespace clearon

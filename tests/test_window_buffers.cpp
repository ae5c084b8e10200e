// Ring, window and centred window buffers, instantiated on plain ints.

#include <gtest/gtest.h>

#include <vector>

#include "vn_class_centeredwindowbuffer.h"
#include "vn_class_stackbuffer.h"
#include "vn_class_windowbuffer.h"

namespace {

void Put(stackbuffer<int>& ring, int v) { *ring.add() = v; }
void Put(windowbuffer<int>& win, int v) { *win.add() = v; }

// Feeds the values one by one the way the repair stream does: add while the
// window accepts, then one get(). Returns every value get() handed out.
std::vector<int> DrainCentred(centeredwindowbuffer<int>& win, int count,
                              std::vector<std::vector<int>>* around = nullptr)
{
    std::vector<int> out;
    int fed = 0;
    for (;;)
    {
        while (fed < count && win.addflag())
            *win.add() = fed++;
        int* got = win.get();
        if (got == nullptr)
            return out;
        out.push_back(*got);
        if (around)
        {
            std::vector<int> seen;
            for (int k = 0; k < win.length(); ++k)
                seen.push_back(*win.peek(static_cast<unsigned>(k)));
            around->push_back(seen);
        }
    }
}

} // namespace

TEST(StackBuffer, KeepsNewestElementsInAgeOrder)
{
    stackbuffer<int> ring(3);
    EXPECT_EQ(ring.length(), 0);
    EXPECT_FALSE(ring.full());
    Put(ring, 'a');
    Put(ring, 'b');
    EXPECT_EQ(*ring.peek(0), 'a');
    EXPECT_EQ(*ring.peek(1), 'b');
    Put(ring, 'c');
    EXPECT_TRUE(ring.full());
    Put(ring, 'd');
    EXPECT_EQ(ring.length(), 3);
    EXPECT_EQ(ring.size(), 3u);
    EXPECT_EQ(*ring.peek(0), 'b');
    EXPECT_EQ(*ring.peek(1), 'c');
    EXPECT_EQ(*ring.peek(2), 'd');
    EXPECT_EQ(ring.peek(3), nullptr);
    const stackbuffer<int>& cring = ring;
    EXPECT_EQ(*cring.peek(2), 'd');
    EXPECT_EQ(cring.peek(static_cast<unsigned>(cring.size())), nullptr);

    // Two more full turns keep the age order across the wrap.
    for (int v = 'e'; v <= 'j'; ++v)
        Put(ring, v);
    EXPECT_EQ(*ring.peek(0), 'h');
    EXPECT_EQ(*ring.peek(1), 'i');
    EXPECT_EQ(*ring.peek(2), 'j');
}

TEST(StackBuffer, SlotsAreReusedWithoutReset)
{
    stackbuffer<int> ring(2);
    int* first = ring.add();
    *first = 11;
    *ring.add() = 22;
    // The ring is full: the next slot handed out is the oldest one, still
    // holding its old value.
    int* again = ring.add();
    EXPECT_EQ(again, first);
    EXPECT_EQ(*again, 11);

    ring.clear();
    EXPECT_EQ(ring.length(), 0);
    int* afterClear = ring.add();
    EXPECT_EQ(afterClear, first);
    EXPECT_EQ(*afterClear, 11);
    EXPECT_EQ(ring.length(), 1);
}

TEST(StackBuffer, ZeroCapacityHandsOutNothing)
{
    stackbuffer<int> ring(0);
    EXPECT_EQ(ring.add(), nullptr);
    EXPECT_EQ(ring.peek(0), nullptr);
    windowbuffer<int> win(0);
    EXPECT_EQ(win.add(), nullptr);
    EXPECT_EQ(win.get(), nullptr);
    EXPECT_EQ(win.next(), nullptr);
    EXPECT_EQ(win.index(), -1);
    centeredwindowbuffer<int> centred(0);
    EXPECT_EQ(centred.add(), nullptr);
    EXPECT_EQ(centred.get(), nullptr);
}

TEST(WindowBuffer, CursorWalksAndFollowsDroppedElements)
{
    windowbuffer<int> win(3);
    EXPECT_EQ(win.get(), nullptr);
    EXPECT_EQ(win.index(), -1);
    Put(win, 'a');
    Put(win, 'b');
    Put(win, 'c');
    EXPECT_EQ(win.index(), 0);
    EXPECT_EQ(*win.next(), 'a');
    EXPECT_EQ(*win.get(), 'a');
    EXPECT_EQ(*win.get(), 'b');
    EXPECT_EQ(win.index(), 2);
    EXPECT_EQ(*win.next(), 'c');

    // Adding d drops a; the cursor moves back to stay on c.
    Put(win, 'd');
    EXPECT_EQ(win.index(), 1);
    EXPECT_EQ(*win.get(), 'c');
    EXPECT_EQ(*win.next(), 'd');
    EXPECT_EQ(*win.get(), 'd');
    EXPECT_EQ(win.next(), nullptr);
    EXPECT_EQ(win.get(), nullptr);
    EXPECT_EQ(win.index(), -1);
}

TEST(WindowBuffer, CursorAtOldestStaysAtZeroWhenFull)
{
    windowbuffer<int> win(2);
    Put(win, 1);
    Put(win, 2);
    Put(win, 3); // drops 1, which was never returned
    EXPECT_EQ(win.index(), 0);
    EXPECT_EQ(*win.get(), 2);
    EXPECT_EQ(*win.get(), 3);
    EXPECT_EQ(win.get(), nullptr);
}

TEST(CentredWindowBuffer, AcceptsOnlyPastTheCentreWhenFull)
{
    centeredwindowbuffer<int> win(7);
    for (int v = 0; v < 7; ++v)
    {
        EXPECT_TRUE(win.addflag());
        Put(win, v);
    }
    EXPECT_TRUE(win.full());
    for (int cursor = 0; cursor <= 3; ++cursor)
    {
        EXPECT_EQ(win.index(), cursor);
        EXPECT_FALSE(win.addflag());
        EXPECT_EQ(win.add(), nullptr);
        EXPECT_EQ(*win.get(), cursor);
    }
    EXPECT_EQ(win.index(), 4);
    EXPECT_TRUE(win.addflag());
    Put(win, 7);
    EXPECT_EQ(win.index(), 3);
    EXPECT_FALSE(win.addflag());

    // Return every element: the cursor is -1, and adding is allowed again.
    while (win.get() != nullptr)
    {
    }
    EXPECT_EQ(win.index(), -1);
    EXPECT_TRUE(win.addflag());
}

TEST(CentredWindowBuffer, ReaderSeesEachElementCentred)
{
    const int count = 20;
    centeredwindowbuffer<int> win(7);
    std::vector<std::vector<int>> around;
    std::vector<int> out = DrainCentred(win, count, &around);

    std::vector<int> expected;
    for (int v = 0; v < count; ++v)
        expected.push_back(v);
    EXPECT_EQ(out, expected);

    // Once the window has run in (v >= 3) and before it drains (v < count - 3),
    // each value returned sits between three older and three newer ones.
    for (int v = 3; v < count - 3; ++v)
    {
        std::vector<int> window;
        for (int k = v - 3; k <= v + 3; ++k)
            window.push_back(k);
        EXPECT_EQ(around[static_cast<size_t>(v)], window) << "value " << v;
    }
    // At the start and at the end the window holds the first and the last seven.
    EXPECT_EQ(around[0], (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(around[count - 1], (std::vector<int>{13, 14, 15, 16, 17, 18, 19}));
}

TEST(CentredWindowBuffer, ReturnedSlotSurvivesThreeCycles)
{
    centeredwindowbuffer<int> win(7);
    int fed = 0;
    std::vector<int*> handed;
    std::vector<int> values;
    for (int cycle = 0; cycle < 30; ++cycle)
    {
        while (fed < 40 && win.addflag())
            *win.add() = fed++;
        int* got = win.get();
        ASSERT_NE(got, nullptr);
        handed.push_back(got);
        values.push_back(*got);
        // The elements returned in the three cycles before are untouched.
        for (size_t back = 1; back <= 3 && back < handed.size(); ++back)
        {
            size_t i = handed.size() - 1 - back;
            EXPECT_EQ(*handed[i], values[i]) << "cycle " << cycle;
        }
    }
}

TEST(CentredWindowBuffer, ShortInputIsReturnedWhole)
{
    centeredwindowbuffer<int> win(7);
    std::vector<int> out = DrainCentred(win, 3);
    EXPECT_EQ(out, (std::vector<int>{0, 1, 2}));

    centeredwindowbuffer<int> one(7);
    Put(one, 42);
    EXPECT_EQ(one.next(), one.peek(0));
    EXPECT_EQ(*one.get(), 42);
    EXPECT_EQ(one.next(), nullptr);
    EXPECT_EQ(one.get(), nullptr);
}

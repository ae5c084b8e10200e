// Ring, window and centred window buffers, instantiated on plain ints.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "vn_class_centeredwindowbuffer.h"
#include "vn_class_stackbuffer.h"
#include "vn_class_windowbuffer.h"

namespace {

template <class Buffer>
void Put(Buffer& buffer, std::vector<int> values)
{
    for (int v : values)
        *buffer.add() = v;
}

template <class Buffer>
std::vector<int> Contents(const Buffer& buffer)
{
    std::vector<int> out;
    for (int k = 0; k < buffer.length(); ++k)
        out.push_back(*buffer.peek(static_cast<unsigned>(k)));
    return out;
}

} // namespace

TEST(StackBuffer, KeepsNewestInAgeOrderAndReusesSlotsAsTheyAre)
{
    stackbuffer<int> ring(3);
    Put(ring, {'a', 'b'});
    EXPECT_FALSE(ring.full());
    EXPECT_EQ(Contents(ring), (std::vector<int>{'a', 'b'}));
    Put(ring, {'c', 'd'});
    EXPECT_TRUE(ring.full());
    EXPECT_EQ(ring.length(), 3);
    EXPECT_EQ(Contents(ring), (std::vector<int>{'b', 'c', 'd'}));
    EXPECT_EQ(ring.peek(static_cast<unsigned>(ring.size())), nullptr);
    Put(ring, {'e', 'f', 'g', 'h'}); // across the wrap twice
    EXPECT_EQ(Contents(ring), (std::vector<int>{'f', 'g', 'h'}));

    // The slot handed out next is the oldest, still holding its element; so
    // is the first slot after clear().
    const int* oldest = ring.peek(0);
    EXPECT_EQ(ring.add(), oldest);
    EXPECT_EQ(*oldest, 'f');
    ring.clear();
    EXPECT_EQ(ring.length(), 0);
    int* first = ring.add();
    EXPECT_EQ(ring.length(), 1);
    EXPECT_EQ(*first, 'g'); // slots took a..h in turn: slot 0 last held g
}

TEST(StackBuffer, ZeroCapacityHandsOutNothing)
{
    stackbuffer<int> ring(0);
    EXPECT_EQ(ring.add(), nullptr);
    EXPECT_EQ(ring.peek(0), nullptr);
    centeredwindowbuffer<int> win(0);
    EXPECT_EQ(win.add(), nullptr);
    EXPECT_EQ(win.get(), nullptr);
    EXPECT_EQ(win.next(), nullptr);
    EXPECT_EQ(win.index(), -1);
}

TEST(WindowBuffer, CursorStaysOnItsElementWhenTheOldestDrops)
{
    windowbuffer<int> win(3);
    EXPECT_EQ(win.get(), nullptr);
    Put(win, {'a', 'b', 'c'});
    EXPECT_EQ(*win.get(), 'a');
    EXPECT_EQ(*win.get(), 'b');
    EXPECT_EQ(win.index(), 2);
    Put(win, {'d'});
    EXPECT_EQ(win.index(), 1);
    EXPECT_EQ(*win.next(), 'c');
    EXPECT_EQ(*win.get(), 'c');
    EXPECT_EQ(*win.get(), 'd');
    EXPECT_EQ(win.next(), nullptr);
    EXPECT_EQ(win.get(), nullptr);
    EXPECT_EQ(win.index(), -1);

    // A cursor on the oldest element does not go below 0.
    windowbuffer<int> fresh(2);
    Put(fresh, {1, 2, 3});
    EXPECT_EQ(fresh.index(), 0);
    EXPECT_EQ(*fresh.get(), 2);
}

TEST(CentredWindowBuffer, AcceptsOnlyPastTheCentreWhenFull)
{
    centeredwindowbuffer<int> win(7);
    Put(win, {0, 1, 2, 3, 4, 5, 6});
    for (int cursor = 0; cursor <= 3; ++cursor)
    {
        EXPECT_FALSE(win.addflag()) << "cursor " << cursor;
        EXPECT_EQ(win.add(), nullptr);
        win.get();
    }
    EXPECT_TRUE(win.addflag()); // cursor 4
    Put(win, {7});
    EXPECT_EQ(win.index(), 3);
    EXPECT_FALSE(win.addflag());
    while (win.get() != nullptr)
    {
    }
    EXPECT_TRUE(win.addflag()); // every element returned
}

TEST(CentredWindowBuffer, ReaderSeesEachElementCentred)
{
    // Add while the window accepts, then get() once, over 0 .. 19 and then
    // over a short input of 3.
    for (int count : {20, 3})
    {
        centeredwindowbuffer<int> win(7);
        std::vector<int> returned;
        std::vector<const int*> slots;
        int fed = 0;
        while (true)
        {
            while (fed < count && win.addflag())
                *win.add() = fed++;
            int* got = win.get();
            if (got == nullptr)
                break;
            const int v = *got;
            returned.push_back(v);
            slots.push_back(got);
            // Three older and three newer around it, fewer only at the ends.
            std::vector<int> expected;
            int lo = count < 7 ? 0 : std::min(std::max(v - 3, 0), count - 7);
            for (int k = lo; k < lo + std::min(count, 7); ++k)
                expected.push_back(k);
            EXPECT_EQ(Contents(win), expected) << "value " << v;
            // The elements returned in the three cycles before are intact.
            for (size_t back = 1; back <= 3 && back <= slots.size() - 1; ++back)
                EXPECT_EQ(*slots[slots.size() - 1 - back], v - static_cast<int>(back));
        }
        std::vector<int> all;
        for (int v = 0; v < count; ++v)
            all.push_back(v);
        EXPECT_EQ(returned, all);
    }
}

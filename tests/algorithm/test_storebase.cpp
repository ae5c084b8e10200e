#include <gtest/gtest.h>

#include "vn_class_storebase.h"

TEST(Storebase, NewStoreIsZeroFilled)
{
    storebase s(140);
    ASSERT_EQ(s.DataSize(), 140u);
    for (size_t k = 0; k < s.DataSize(); ++k) EXPECT_EQ(s.DataPtr()[k], 0);
}

TEST(Storebase, CopyOfLockedStoreIsUnlockedAndOwnsItsBytes)
{
    storebase s(8);
    s.DataPtr()[3] = 7;
    s.lock();
    storebase c(s);
    EXPECT_EQ(c.getlock(), 0);
    EXPECT_EQ(s.getlock(), 1);
    EXPECT_NE(c.DataPtr(), s.DataPtr());
    EXPECT_EQ(c.DataPtr()[3], 7);
    s.unlock();
}

TEST(Storebase, AssignmentTakesSourceSizeAndSelfAssignmentKeepsBuffer)
{
    storebase big(372), small(64);
    small.Clear(0xAB);
    big.lock();
    big = small;
    EXPECT_EQ(big.DataSize(), 64u);
    EXPECT_EQ(static_cast<unsigned char>(big.DataPtr()[63]), 0xAB);
    EXPECT_EQ(big.getlock(), 1);
    big.unlock();
    char* before = small.DataPtr();
    small = small;
    EXPECT_EQ(small.DataPtr(), before);
}

TEST(Storebase, ClearSetsEveryByte)
{
    storebase s(32);
    s.Clear(0xFF);
    for (size_t k = 0; k < 32; ++k) EXPECT_EQ(static_cast<unsigned char>(s.DataPtr()[k]), 0xFF);
}

TEST(StorebaseDeathTest, DestroyingLockedStoreStopsWithUseCount)
{
    EXPECT_EXIT(
        {
            storebase s(4);
            s.lock();
            s.lock();
            s.unlock();
        },
        ::testing::ExitedWithCode(255), "Program error: storebase use count = 1\n");
}

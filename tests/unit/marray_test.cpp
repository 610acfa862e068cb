#include <gtest/gtest.h>

#include <cstdint>

#include "ExternalDeviceLayer/MArray.h"

namespace {

struct Record {
    uint32_t a;
    uint16_t b;
};

TEST(MArray, FirstGrowthStepComesFromTheSizeAndIsKept) {
    struct Case {
        int32_t initial;
        int32_t expectedStep;
    };
    // size / 8, raised to 4 and lowered to 1024.
    const Case cases[] = {{1, 4}, {20, 4}, {32, 4}, {40, 5}, {800, 100}, {8192, 1024}, {20000, 1024}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.initial);
        CMArray<uint8_t> array;
        array.SetCount(c.initial, -1);
        EXPECT_EQ(array.Capacity(), c.initial); // the first allocation is exact
        array.SetCount(c.initial + 1, -1);
        EXPECT_EQ(array.GrowBy(), c.expectedStep);
        EXPECT_EQ(array.Capacity(), c.initial + c.expectedStep);
        // The step stays as worked out, however large the array becomes.
        array.SetCount(array.Capacity() + 1, -1);
        EXPECT_EQ(array.GrowBy(), c.expectedStep);
        EXPECT_EQ(array.Capacity(), c.initial + 2 * c.expectedStep);
    }
}

TEST(MArray, GrowthToFarBeyondTheStepAllocatesExactly) {
    CMArray<uint8_t> array;
    array.SetCount(8, 2);
    array.SetCount(100, -1);
    EXPECT_EQ(array.Capacity(), 100);
    EXPECT_EQ(array.GrowBy(), 2);
}

TEST(MArray, NewElementsAreZeroAndOldOnesKept) {
    CMArray<Record> array;
    array.PutAt(0, Record{7, 8});
    array.PutAt(5, Record{9, 10}); // beyond the end: 1..4 are zero-filled
    ASSERT_EQ(array.Size(), 6);
    EXPECT_EQ(array[0].a, 7u);
    for (int i = 1; i < 5; ++i) {
        EXPECT_EQ(array[i].a, 0u);
        EXPECT_EQ(array[i].b, 0u);
    }
    EXPECT_EQ(array[5].b, 10u);
    // Shrinking keeps the storage; growing again within it zero-fills what was dropped.
    array.SetCount(1, -1);
    EXPECT_EQ(array.Capacity() >= 6, true);
    array.SetCount(6, -1);
    EXPECT_EQ(array[5].a, 0u);
    EXPECT_EQ(array[0].a, 7u);
}

TEST(MArray, EmptyingAndCompacting) {
    CMArray<uint32_t> array;
    for (int i = 0; i < 10; ++i)
        array.PutAt(i, static_cast<uint32_t>(i * 3));
    EXPECT_GT(array.Capacity(), array.Size());
    array.Compact();
    EXPECT_EQ(array.Capacity(), 10);
    EXPECT_EQ(array[9], 27u);
    array.SetCount(0, -1);
    EXPECT_EQ(array.Data(), nullptr);
    EXPECT_EQ(array.Size(), 0);
    EXPECT_EQ(array.Capacity(), 0);
    array.Compact(); // on an empty array: nothing to do
    EXPECT_EQ(array.Data(), nullptr);
    array.SetCount(-3, -1); // a negative count empties rather than corrupting
    EXPECT_EQ(array.Size(), 0);
    array.PutAt(-1, 5u); // a negative index is ignored
    EXPECT_EQ(array.Size(), 0);
}

} // namespace

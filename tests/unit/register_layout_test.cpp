// Register fields as {shift, width}: a field reads and replaces only its own bits, at both ends of the
// register and at full width.
#include <gtest/gtest.h>

#include "ExternalDeviceLayer/RegisterLayout.h"

namespace {

TEST(RegisterLayout, FieldsTouchOnlyTheirOwnBits) {
    using Low = regs::Field<0, 3>;
    using Mid = regs::Field<16, 4>;
    using Top = regs::Field<31, 1>;
    using All = regs::Field<0, 32>;
    static_assert(Mid::kMask == 0x000F0000u && Top::kMask == 0x80000000u && All::kMask == 0xFFFFFFFFu);
    static_assert(Mid::Make<0xA>() == 0x000A0000u);
    struct Case {
        uint32_t reg, value, low, mid, top, all;
    };
    // What Set(reg, value) gives for each field.
    const Case cases[] = {
        {0x00000000u, 0x5, 0x00000005u, 0x00050000u, 0x80000000u, 0x00000005u},
        {0xFFFFFFFFu, 0x0, 0xFFFFFFF8u, 0xFFF0FFFFu, 0x7FFFFFFFu, 0x00000000u},
        {0x12345678u, 0x1F, 0x1234567Fu, 0x123F5678u, 0x92345678u, 0x0000001Fu}, // cut to the width
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Low::Set(c.reg, c.value), c.low);
        EXPECT_EQ(Mid::Set(c.reg, c.value), c.mid);
        EXPECT_EQ(Top::Set(c.reg, c.value), c.top);
        EXPECT_EQ(All::Set(c.reg, c.value), c.all);
        EXPECT_EQ(Mid::Get(Mid::Set(c.reg, c.value)), c.value & 0xF);
        EXPECT_EQ(Top::Get(c.reg), c.reg >> 31);
    }
}

} // namespace

#include "camera/registers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Registers, NamesOfValues) {
    struct Case {
        const NameTable* table;
        long value;
        const char* name;  // null: no name
    } cases[] = {
        {&ResolutionNamesOther, 2, "High"},   {&ResolutionNamesSR981, 33, "Hi"},
        {&ResolutionNamesSR981, 5, ""},       {&ResolutionNamesSX381, 35, "Hi"},
        {&ResolutionNamesSX381, 36, nullptr}, {&WhiteBalanceNames, 255, nullptr},
        {&WhiteBalanceNames, 4, "Unknown"},   {&MeteringNames, 0, "Unknown"},
        {&MeteringNames, 1, "Unknown"},       {&MeteringNames, 4, "Unknown"},
        {&MeteringNames, 6, "Spot AF"},       {&FlashNames, 9, nullptr},
        {&FlashNames, -1, nullptr},           {&FocusNames, 3, "Infinity"},
        {&ImageAdjustNames, 5, "Auto"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const char* name = NameOfValue(*c.table, c.value);
        if (c.name) {
            ASSERT_NE(name, nullptr);
            EXPECT_STREQ(name, c.name);
        } else {
            EXPECT_EQ(name, nullptr);
        }
    }
}

TEST(Registers, ValuesOfNames) {
    struct Case {
        const NameTable* table;
        const char* name;
        int value;  // -1: none
    } cases[] = {
        {&ApertureNames, "Unknown", 3},
        {&ApertureNames, "high", 4},
        {&ResolutionNamesSR981, "Basic", 10},
        {&ResolutionNamesSR981, "Normal", 11},
        {&ResolutionNamesSR981, "Fine", 12},
        {&ResolutionNamesSR981, "Hi", 33},
        {&ResolutionNamesSR981, "3:2 Fine", -1},
        {&ResolutionNamesSX381, "Basic", 17},
        {&ResolutionNamesSX381, "Normal", 18},
        {&ResolutionNamesSX381, "Fine", 19},
        {&ResolutionNamesSX381, "Hi", 35},
        {&ResolutionNamesSX381, "3:2 hi", 34},
        {&ResolutionNamesOther, "High", -1},
        {&ResolutionNamesOther, "Unknown", 0},
        {&MeteringNames, "Unknown", 0},
        {&WhiteBalanceNames, "Preset", 6},
        {&FocusNames, "", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto value = ValueOfName(*c.table, c.name);
        EXPECT_EQ(value.value_or(-1), c.value);
    }
}

TEST(Registers, ResolutionTableByModel) {
    EXPECT_EQ(&ResolutionTableOfModel("SR981"), &ResolutionNamesSR981);
    EXPECT_EQ(&ResolutionTableOfModel("SX381"), &ResolutionNamesSX381);
    EXPECT_EQ(&ResolutionTableOfModel("sx381"), &ResolutionNamesOther);
    EXPECT_EQ(&ResolutionTableOfModel(""), &ResolutionNamesOther);
    EXPECT_EQ(ResolutionNamesSR981.lookupCount, 34);
    EXPECT_EQ(ResolutionNamesSX381.lookupCount, 36);
    EXPECT_EQ(ResolutionNamesOther.lookupCount, 1);
}

TEST(Registers, DumpClasses) {
    struct Case {
        int reg;
        int cls;
    } cases[] = {{0, 2},  {1, 0},  {13, 0}, {14, 9}, {15, 9}, {27, 1}, {41, 0},
                 {60, 2}, {77, 4}, {82, 6}, {83, 0}, {84, 9}, {91, 9}, {93, 0},
                 {94, 0}, {-1, 0}, {47, 1}, {49, 9}, {76, 2}, {72, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(RegisterDumpClassOf(c.reg), c.cls) << c.reg;
    }
    // No register locks the camera.
    for (int r = 0; r < kRegisterDumpCount; ++r) {
        EXPECT_NE(RegisterDumpClass[r], DUMP_LOCKS) << r;
    }
}

}  // namespace

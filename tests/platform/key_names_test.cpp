// Key codes and the names bindings and input scripts use for them.
#include <gtest/gtest.h>

#include "platform/key_names.h"

TEST(KeyNames, TableNamesAndFirstMatch) {
    EXPECT_STREQ(KeyName(17), "w");
    EXPECT_STREQ(KeyName(54), "shift");
    EXPECT_STREQ(KeyName(233), "mousemove");
    EXPECT_STREQ(KeyName(84), "");
    EXPECT_EQ(KeyName(0), nullptr);
    EXPECT_EQ(KeyName(235), nullptr);
    EXPECT_EQ(KeyCodeOfName("shift"), 42);
    EXPECT_EQ(KeyCodeOfName("control"), 29);
    EXPECT_EQ(KeyCodeOfName("menu"), 56);
    EXPECT_EQ(KeyCodeOfName("/"), 53);
    EXPECT_EQ(KeyCodeOfName("7"), 8);
    EXPECT_EQ(KeyCodeOfName("W"), -1);
    EXPECT_EQ(KeyCodeOfName(""), -1);
}

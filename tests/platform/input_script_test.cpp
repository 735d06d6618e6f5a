// The headless input script's typed text, and how the scripted keyboard
// hands it over: one record per character, in order with the keys.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/headless/input_script.h"
#include "platform/headless/scripted_input.h"

TEST(InputScriptText, TypedCharactersComeInOrderWithTheKeys) {
    InputScript script;
    std::string error;
    ASSERT_TRUE(ParseInputScript("2 key grave down\n2 text map  oa_dm1\n2 key return down\n3 text \xC3\xA9x\n",
                                 &script, &error))
        << error;
    ASSERT_EQ(script.events.size(), 4u);
    EXPECT_EQ(script.events[1].kind, InputScriptEvent::Kind::kText);
    EXPECT_EQ(script.events[1].line, "map  oa_dm1");  // only the separating blank goes

    ScriptedInputDevice device(std::make_shared<const InputScript>(script));
    KeyboardEvent records[20];
    int32_t dx = 0, dy = 0;
    device.ReadMouse(&dx, &dy);
    EXPECT_EQ(device.ReadKeyboard(records, 20), 0);  // frame 1: nothing yet
    device.ReadMouse(&dx, &dy);
    ASSERT_EQ(device.ReadKeyboard(records, 20), 13);
    EXPECT_EQ(records[0].code, 41);
    EXPECT_FALSE(records[0].IsText());
    std::string typed;
    for (int i = 1; i < 12; ++i) {
        ASSERT_TRUE(records[i].IsText()) << i;
        typed += records[i].text;
    }
    EXPECT_EQ(typed, "map  oa_dm1");
    EXPECT_EQ(records[12].code, 28);
    device.ReadMouse(&dx, &dy);
    ASSERT_EQ(device.ReadKeyboard(records, 20), 2);
    EXPECT_STREQ(records[0].text, "\xC3\xA9");  // a character is all its bytes
    EXPECT_STREQ(records[1].text, "x");
}

TEST(InputScriptText, TextNeedsCharacters) {
    InputScript script;
    std::string error;
    EXPECT_FALSE(ParseInputScript("1 key w down\n4 text\n", &script, &error));
    EXPECT_EQ(error, "line 2: text takes the characters to type");
    EXPECT_FALSE(ParseInputScript("4 text \n", &script, &error));
}

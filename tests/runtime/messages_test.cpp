#include <gtest/gtest.h>

#include <string>

#include "mvb/message.h"

namespace {

int countArguments(const char* format) {
    int count = 0;
    for (const char* p = format; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            ++count;
        } else if (p[0] == '%' && p[1] == '%') {
            ++p;
        }
    }
    return count;
}

TEST(Messages, EveryNumberTheStepsUseHasATextWithItsArguments) {
    struct Use {
        int number;
        int arguments;
        const char* mustName;  ///< the property or subject the text names
    };
    const Use uses[] = {
        {29, 1, "memory"},
        {57, 1, "DELIMITER"},
        {97, 1, "FILENAME"},
        {268, 1, "TYPE"},
        {270, 0, "MAX_OUTPUT_ROWS"},
        {304, 0, "FILENAME"},
        {311, 1, "FIELDNAME"},
        {315, 0, "input"},
        {421, 0, "stopped"},
        {663, 0, "FIELDS"},
        {721, 1, "LENGTH"},
        {722, 1, "MAX_LENGTH"},
        {723, 0, "SKIPROWS"},
        {724, 0, "PRESERVE_WHITESPACE"},
        {725, 0, "UNESCAPE_BACKSLASH"},
        {726, 0, "FILENAME"},
        {729, 0, "INCLUDE_HEADER"},
        {732, 0, "WIDTH"},
        {734, 0, "START_POS"},
        {735, 0, "RECORDWIDTH"},
        {736, 0, "CRLF_TERMINATE"},
        {737, 0, "RECORDWIDTH"},
        {738, 0, "RECORDWIDTH"},
        {739, 0, "MAX_OUTPUT_ROWS"},
        {800, 2, "START_POS"},
        {801, 2, "ENCODING"},
        {802, 1, "internal"},
    };
    for (const Use& use : uses) {
        const char* format = mvbMessageTemplate(use.number);
        ASSERT_NE(format, nullptr) << use.number;
        EXPECT_EQ(countArguments(format), use.arguments) << use.number;
        EXPECT_NE(std::string(format).find(use.mustName), std::string::npos) << use.number;
    }
}

TEST(Messages, FormatsDomainNumberTextAndSource) {
    const MvbString message = mvb_get_message("src/dts_txtdelimsrc", 42, "Text Plugin", 726);
    EXPECT_STREQ(message.asCstr(),
                 "Text Plugin 726: FILENAME is empty: set the file to read. "
                 "(src/dts_txtdelimsrc:42)");
    EXPECT_STREQ(mvb_get_message("f", 1, "Text Plugin", 304).asCstr(),
                 "Text Plugin 304: FILENAME is empty: set the file to write. (f:1)");
}

TEST(Messages, ArgumentsAreFilledAsPlainText) {
    const std::string name = "Price%s%n%d%%";
    const std::string message = mvb_get_message("src/x", 7, "Text Plugin", 311, name).asCstr();
    EXPECT_NE(message.find("\"Price%s%n%d%%\""), std::string::npos) << message;
    EXPECT_EQ(message.rfind("(src/x:7)"), message.size() - 9);

    const std::string memory = mvb_get_message("s", 3, "Text Plugin", 29, "(Field array)").asCstr();
    EXPECT_NE(memory.find("(Field array)"), std::string::npos) << memory;
}

TEST(Messages, MissingArgumentsLeaveAGapAndNeverCrash) {
    const std::string message = mvb_get_message("s", 1, "Text Plugin", 97).asCstr();
    EXPECT_EQ(message.find("Text Plugin 97: "), 0u);
}

TEST(Messages, UnknownNumberSaysSoAndKeepsTheArguments) {
    EXPECT_EQ(mvbMessageTemplate(99999), nullptr);
    const std::string message =
        mvb_get_message("src/y", 5, "Text Plugin", 99999, "first", "second").asCstr();
    EXPECT_EQ(message.find("Text Plugin 99999: "), 0u) << message;
    EXPECT_NE(message.find("not in the catalogue"), std::string::npos) << message;
    EXPECT_NE(message.find("first, second"), std::string::npos) << message;
    EXPECT_NE(message.find("(src/y:5)"), std::string::npos) << message;
}

}  // namespace

#include "stream/WtStream.h"

#include <gtest/gtest.h>

#include <string>

TEST(WtStreamException, TextIsNoneOrAPrivateCopy)
{
    EXPECT_EQ(nullptr, WtStreamException(WtStreamException::CloseFailed).text);
    EXPECT_EQ(nullptr, WtStreamException(-5, nullptr).text);

    std::string name = "C:\\missing\\file.txt";
    auto* original = new WtStreamException(7, name.c_str());
    name.assign(name.size(), 'x');
    WtStreamException copy(*original);
    EXPECT_EQ(7, copy.code);
    EXPECT_NE(original->text, copy.text);
    delete original;
    EXPECT_STREQ("C:\\missing\\file.txt", copy.text);
}

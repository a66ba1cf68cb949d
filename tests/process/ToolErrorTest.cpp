#include "process/ToolError.h"

#include "support/Test.h"

TEST(ToolError, DescribesItselfByMessageOrByToolAndStatus)
{
    EXPECT_EQ(ToolError("ipatool", 2, {}).description(), "ipatool: код возврата 2");
    EXPECT_EQ(ToolError("ipatool", 2, "license is required").description(), "license is required");
    EXPECT_STREQ(ToolError("ditto", 1, {}).what(), "ditto: код возврата 1");
}

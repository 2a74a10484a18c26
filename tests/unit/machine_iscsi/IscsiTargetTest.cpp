#include "machine/iscsi/IscsiTarget.h"

#include <gtest/gtest.h>

namespace harrow::machine {
namespace {

std::string RefusalOf(const std::string& text)
{
    try {
        ParseIscsiTargets(text);
    } catch (const IscsiSpecError& e) {
        return e.what();
    }
    return "accepted";
}

TEST(IscsiTargetTest, ParsesSeveralTargetsSeparatedByBlanks)
{
    const auto targets =
        ParseIscsiTargets("  iscsi://127.0.0.1/iqn.a:one\tISCSI://storage.lan:3261/iqn.b:two  iscsi://[::1]:9/iqn.c ");
    ASSERT_EQ(targets.size(), 3u);
    EXPECT_EQ(targets[0].host, "127.0.0.1");
    EXPECT_EQ(targets[0].port, 3260);
    EXPECT_EQ(targets[0].iqn, "iqn.a:one");
    EXPECT_EQ(targets[1].Portal(), "storage.lan:3261");
    EXPECT_EQ(targets[2].host, "::1");
    EXPECT_EQ(targets[2].Portal(), "[::1]:9");
    EXPECT_EQ(targets[2].Url(), "iscsi://[::1]:9/iqn.c");
}

TEST(IscsiTargetTest, RefusesMalformedWordsNamingThem)
{
    const std::string expected = " (expected iscsi://HOST[:PORT]/IQN)";
    EXPECT_EQ(RefusalOf(" "), "HARROW_MACHINE: no iSCSI target given" + expected);
    EXPECT_EQ(RefusalOf("iscsi://h/iqn.x linux"), "HARROW_MACHINE: \"linux\": not an iscsi:// address" + expected);
    EXPECT_EQ(RefusalOf("iscsi://host"), "HARROW_MACHINE: \"iscsi://host\": no target name" + expected);
    EXPECT_EQ(RefusalOf("iscsi://host/"),
              "HARROW_MACHINE: \"iscsi://host/\": the target name must be one path element" + expected);
    EXPECT_EQ(RefusalOf("iscsi://host/iqn.x/1"),
              "HARROW_MACHINE: \"iscsi://host/iqn.x/1\": the target name must be one path element" + expected);
    EXPECT_EQ(RefusalOf("iscsi://:3260/iqn.x"), "HARROW_MACHINE: \"iscsi://:3260/iqn.x\": no host" + expected);
    EXPECT_EQ(RefusalOf("iscsi://[::1/iqn.x"),
              "HARROW_MACHINE: \"iscsi://[::1/iqn.x\": unclosed '[' in the host" + expected);
    EXPECT_EQ(RefusalOf("iscsi://h:0/iqn.x"),
              "HARROW_MACHINE: \"iscsi://h:0/iqn.x\": port \"0\" is not a number from 1 to 65535" + expected);
    EXPECT_EQ(RefusalOf("iscsi://h:65536/i"),
              "HARROW_MACHINE: \"iscsi://h:65536/i\": port \"65536\" is not a number from 1 to 65535" + expected);
    EXPECT_EQ(RefusalOf("iscsi://h:/i"),
              "HARROW_MACHINE: \"iscsi://h:/i\": port \"\" is not a number from 1 to 65535" + expected);
    EXPECT_EQ(RefusalOf("iscsi://h:-1/i"),
              "HARROW_MACHINE: \"iscsi://h:-1/i\": port \"-1\" is not a number from 1 to 65535" + expected);
}

}  // namespace
}  // namespace harrow::machine

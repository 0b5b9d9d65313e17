// The client's version resource: the number of the file VERSION, the Russian texts in Windows-1251.
#include <gtest/gtest.h>

#include "harness.h"
#include "version.h"

TEST(Version, VindleCarriesTheProjectVersionAndItsRussianTexts) {
    EXPECT_EQ("file " QUORREL_VERSION_TEXT ".0 product " QUORREL_VERSION_TEXT ".0", harness::FixedVersions());
    EXPECT_EQ("0419 1251", harness::VersionTranslation());
    EXPECT_EQ(QUORREL_VERSION_TEXT, harness::VersionText("041904E3", "FileVersion"));
    EXPECT_EQ(QUORREL_VERSION_TEXT, harness::VersionText("041904E3", "ProductVersion"));
    EXPECT_EQ("Почтовый клиент Vindle для сервера Quorrel", harness::VersionText("041904E3", "FileDescription"));
    EXPECT_EQ("Vindle — почтовый клиент", harness::VersionText("041904E3", "ProductName"));
    EXPECT_EQ("Vindle.exe", harness::VersionText("041904E3", "OriginalFilename"));
}

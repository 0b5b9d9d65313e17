// The client's version resource: the number of the file VERSION, the Russian texts in Windows-1251.
#include <gtest/gtest.h>

#include "harness.h"

TEST(Version, VindleCarriesTheProjectVersionAndItsRussianTexts) {
    harness::ExpectVersionInfo("Почтовый клиент Vindle для сервера Quorrel", "Vindle — почтовый клиент", "Vindle.exe");
}

// The server's version resource: the number of the file VERSION, the Russian texts in Windows-1251.
#include <gtest/gtest.h>

#include "harness.h"

TEST(Version, QuorrelCarriesTheProjectVersionAndItsRussianTexts) {
    harness::ExpectVersionInfo("Почтовый сервер Quorrel для локальной сети", "Quorrel — почтовый сервер", "Quorrel.exe");
}

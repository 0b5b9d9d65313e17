// The mailbox store: counting, measuring, loading and committing letter files.
#include <set>

#include "fileio.h"
#include "fixture.h"
#include "mailbox.h"
#include "storage_util.h"
#include "users.h"

using harness::ReadBytes;
using storage::Letter;
using storage::Mailbox;

namespace {

class MailboxTest : public ServerTest {
protected:
    // Users in the table only: the store finds a mailbox through the record's name.
    void SetUsers(std::initializer_list<const char*> names) {
        g_users.count = 0;
        for (const char* n : names) g_users.users[g_users.count++] = storage::User(n);
    }
    int Beeps() const { return g_beeps.count; }
};

std::string Text(int i) { return std::string(g_letters.letters[i].text, g_letters.letters[i].size); }

}  // namespace

TEST_F(MailboxTest, CountsMeasuresAndLoadsLetters) {
    Mailbox("ivan");
    const std::string unread = "0" + std::string(20, 'a');
    Letter("ivan\\a.msg", unread);
    Letter("ivan\\b.MSG", "RHello");
    Letter("ivan\\c.txt", "not a letter");
    CreateDirectoryA("ivan\\folder.msg", nullptr);   // a folder is not a letter

    EXPECT_EQ(2, CountLetters("ivan"));
    EXPECT_EQ(27u, MailboxSize("ivan"));
    int n = -1;
    std::uint64_t size = 0;
    MeasureMailbox("ivan", &n, &size);
    EXPECT_EQ(2, n);
    EXPECT_EQ(27u, size);
    EXPECT_EQ(0, Beeps()) << "counting and measuring do not beep";

    LoadLetters("ivan");
    ASSERT_EQ(2, g_letters.count);
    std::set<std::string> paths;
    for (int i = 0; i < 2; ++i) {
        const LetterRecord& r = g_letters.letters[i];
        paths.insert(r.path);
        EXPECT_EQ(0, r.is_deleted);
        EXPECT_EQ('\0', r.text[r.size]);
        if (std::string(r.path) == "ivan\\a.msg") {
            EXPECT_EQ(21u, r.size);
            EXPECT_EQ(unread, Text(i));
            EXPECT_EQ(0, r.is_read);
        } else {
            EXPECT_EQ(6u, r.size);
            EXPECT_EQ("RHello", Text(i));
            EXPECT_EQ(1, r.is_read);
        }
    }
    EXPECT_EQ((std::set<std::string>{"ivan\\a.msg", "ivan\\b.MSG"}), paths);
    EXPECT_EQ(0, Beeps());
    EXPECT_EQ(unread, ReadBytes("ivan\\a.msg")) << "a load changes no file";
}

TEST_F(MailboxTest, MissingOrEmptyMailboxCountsZeroAndALoadBeepsAndEmptiesTheTable) {
    Mailbox("ivan");
    Letter("ivan\\1.msg", "0one");
    Mailbox("maria");
    LoadLetters("ivan");
    ASSERT_EQ(1, g_letters.count);
    g_letters.letters[0].is_deleted = 1;

    for (const char* user : {"maria", "petr", static_cast<const char*>(nullptr)}) {   // empty, missing, none
        int beeps = Beeps();
        SCOPED_TRACE(user ? user : "no folder");
        EXPECT_EQ(0, CountLetters(user));
        EXPECT_EQ(0u, MailboxSize(user));
        LoadLetters(user);
        EXPECT_EQ(0, g_letters.count) << "nothing of ivan's conversation stays";
        EXPECT_STREQ("", g_letters.letters[0].path);
        ASSERT_EQ(beeps + 1, Beeps());
        EXPECT_EQ(static_cast<UINT>(MB_OK), g_beeps.types[beeps]);
        CommitMailbox();
    }
    EXPECT_EQ("0one", ReadBytes("ivan\\1.msg")) << "an empty load commits nothing of an earlier one";
}

TEST_F(MailboxTest, AtMostFifteenLettersAreLoadedAndTheRestStayOnDisk) {
    Mailbox("ivan");
    for (int i = 0; i < 18; ++i) Letter("ivan\\" + std::to_string(100 + i) + ".msg", "0letter " + std::to_string(i));
    EXPECT_EQ(18, CountLetters("ivan"));
    int n = 0;
    std::uint64_t size = 0;
    MeasureMailbox("ivan", &n, &size);
    EXPECT_EQ(15, n);
    LoadLetters("ivan");
    ASSERT_EQ(15, g_letters.count);
    std::uint64_t sum = 0;
    for (int i = 0; i < 15; ++i) sum += g_letters.letters[i].size;
    EXPECT_EQ(sum, size) << "STAT's total is that of the letters served";
    // All marked deleted: only those 15 go, the other 3 are served next time.
    for (int i = 0; i < 15; ++i) g_letters.letters[i].is_deleted = 1;
    CommitMailbox();
    EXPECT_EQ(3, CountLetters("ivan"));
    LoadLetters("ivan");
    EXPECT_EQ(3, g_letters.count);
}

TEST_F(MailboxTest, LongLetterIsServedAsItsFirst994BytesAndLeftWhole) {
    Mailbox("ivan");
    std::string longer = "0";
    for (int i = 0; i < 2999; ++i) longer += static_cast<char>('a' + i % 26);
    Letter("ivan\\long.msg", longer);
    int n = 0;
    std::uint64_t size = 0;
    MeasureMailbox("ivan", &n, &size);
    EXPECT_EQ(1, n);
    EXPECT_EQ(994u, size);
    EXPECT_EQ(3000u, MailboxSize("ivan"));
    LoadLetters("ivan");
    ASSERT_EQ(1, g_letters.count);
    EXPECT_EQ(994u, g_letters.letters[0].size);
    EXPECT_EQ(longer.substr(0, 994), Text(0));
    EXPECT_EQ('\0', g_letters.letters[0].text[994]);
    g_letters.letters[0].is_read = 1;
    CommitMailbox();
    EXPECT_EQ("R" + longer.substr(1), ReadBytes("ivan\\long.msg"));
}

TEST_F(MailboxTest, CommitWritesStatusBytesAndInsertsThemWhereMissing) {
    struct Case { const char* label; std::string before; int read; std::string after; };
    std::string big(5000, 'x');
    big[0] = 'H';
    big[4999] = 'Z';
    const Case cases[] = {
        {"unread '0', read since", "0" + std::string(20, 't'), 1, "R" + std::string(20, 't')},
        {"unread '0', not read", "0text", 0, "0text"},
        {"read 'R' stays read", "Rtext", 1, "Rtext"},
        {"no status byte, not read: '0' goes in front", "Hello", 0, "0Hello"},
        {"no status byte, read", "Hello", 1, "RHello"},
        {"text starting with R counts as its status byte", "Report", 1, "Report"},
        {"empty file gets its status byte", "", 0, "0"},
        {"long file without a status byte moves whole", big, 0, "0" + big},
    };
    Mailbox("ivan");
    for (const Case& c : cases) {
        Letter("ivan\\x.msg", c.before);
        LoadLetters("ivan");
        ASSERT_EQ(1, g_letters.count) << c.label;
        if (c.read) g_letters.letters[0].is_read = 1;
        CommitMailbox();
        std::string got = ReadBytes("ivan\\x.msg");
        EXPECT_EQ(c.after.size(), got.size()) << c.label;
        EXPECT_TRUE(c.after == got) << c.label << ": " << harness::Hex(got.substr(0, 40));
    }
}

TEST_F(MailboxTest, StatusByteThatCannotBeWrittenWholeLeavesTheLetterAsItWas) {
    std::string letter(5000, 'y');
    letter[0] = 'H';
    Mailbox("ivan");
    Letter("ivan\\x.msg", letter);
    LoadLetters("ivan");
    ASSERT_EQ(1, g_letters.count);
    g_letters.letters[0].is_read = 1;
    g_write_room = 3000;   // the disk fills up part way through the rewrite
    CommitMailbox();
    g_write_room = -1;
    std::string got = ReadBytes("ivan\\x.msg");
    EXPECT_EQ(letter.size(), got.size());
    EXPECT_TRUE(letter == got) << "the letter must stay whole: " << harness::Hex(got.substr(0, 16));
    WIN32_FIND_DATAA d;
    HANDLE find = FindFirstFileA("ivan\\*", &d);
    int files = 0;
    do files += !(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    while (FindNextFileA(find, &d));
    FindClose(find);
    EXPECT_EQ(1, files) << "no half-written copy is left behind";
    EXPECT_EQ(1, CountLetters("ivan"));
}

TEST_F(MailboxTest, CommitDeletesTheMarkedLetterByItsOwnPath) {
    Mailbox("ivan");
    Letter("ivan\\a.msg", "0a");
    Letter("ivan\\b.msg", "0b");
    Letter("ivan\\c.msg", "Hc");
    LoadLetters("ivan");
    ASSERT_EQ(3, g_letters.count);
    std::string second = g_letters.letters[1].path;
    g_letters.letters[1].is_deleted = 1;
    CommitMailbox();
    EXPECT_FALSE(harness::FileExists(second));
    EXPECT_EQ(2, CountLetters("ivan"));
    for (int i : {0, 2}) {
        std::string p = g_letters.letters[i].path;
        std::string got = ReadBytes(p);
        ASSERT_FALSE(got.empty()) << p;
        EXPECT_EQ('0', got[0]) << p;
    }
}

TEST_F(MailboxTest, CommitTouchesNoFileThatCameOrWentSinceTheLoad) {
    Mailbox("ivan");
    Letter("ivan\\a.msg", "0a");
    Letter("ivan\\b.msg", "0b");
    LoadLetters("ivan");
    ASSERT_EQ(2, g_letters.count);
    std::string first = g_letters.letters[0].path, second = g_letters.letters[1].path;
    // The first letter vanishes and two new ones come; the second was marked deleted.
    DeleteFileA(first.c_str());
    Letter("ivan\\new1.msg", "Hnew one");
    Letter("ivan\\new2.msg", "Hnew two");
    g_letters.letters[0].is_read = 1;
    g_letters.letters[1].is_deleted = 1;
    CommitMailbox();
    EXPECT_FALSE(harness::FileExists(first)) << "a vanished letter is not made again";
    EXPECT_FALSE(harness::FileExists(second));
    EXPECT_EQ("Hnew one", ReadBytes("ivan\\new1.msg"));
    EXPECT_EQ("Hnew two", ReadBytes("ivan\\new2.msg"));
}

TEST_F(MailboxTest, LetterHeldOpenElsewhereIsSkippedWithABeep) {
    Mailbox("ivan");
    Letter("ivan\\a.msg", "0a");
    Letter("ivan\\b.msg", "0b");
    HANDLE held = CreateFileA("ivan\\a.msg", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    int n = 0;
    std::uint64_t size = 0;
    MeasureMailbox("ivan", &n, &size);
    EXPECT_EQ(1, n) << "STAT counts what a load would serve";
    EXPECT_EQ(0, Beeps());
    LoadLetters("ivan");
    CloseHandle(held);
    ASSERT_EQ(1, g_letters.count);
    EXPECT_STREQ("ivan\\b.msg", g_letters.letters[0].path);
    ASSERT_EQ(1, Beeps());
    EXPECT_EQ(static_cast<UINT>(MB_OK), g_beeps.types[0]);
    g_letters.letters[0].is_deleted = 1;
    CommitMailbox();
    EXPECT_EQ("0a", ReadBytes("ivan\\a.msg")) << "the skipped file is not deleted in its place";
    EXPECT_FALSE(harness::FileExists("ivan\\b.msg"));
}

TEST_F(MailboxTest, LetterThatCannotBeReadKeepsItsPlaceWithAnEmptyTextAndABeep) {
    Mailbox("ivan");
    Letter("ivan\\a.msg", "0first");
    g_read_fails = true;
    LoadLetters("ivan");
    g_read_fails = false;
    ASSERT_EQ(1, g_letters.count) << "the letter keeps its number";
    EXPECT_EQ(0u, g_letters.letters[0].size);
    EXPECT_STREQ("", g_letters.letters[0].text);
    EXPECT_STREQ("ivan\\a.msg", g_letters.letters[0].path);
    ASSERT_EQ(1, Beeps());
    EXPECT_EQ(static_cast<UINT>(MB_OK), g_beeps.types[0]);
    // Committed as not read: its status byte is written in place, nothing else changes.
    CommitMailbox();
    EXPECT_EQ("0first", ReadBytes("ivan\\a.msg"));
}

TEST_F(MailboxTest, AnUnchangedLetterIsReadOnceAndWrittenOnlyWhereItsMarkChanges) {
    Mailbox("ivan");
    const char* files[] = {"ivan\\a.msg", "ivan\\b.msg", "ivan\\c.msg"};
    Letter(files[0], "0a");
    Letter(files[1], "Rb");
    Letter(files[2], "0c");
    auto written = [](const char* path) {
        WIN32_FIND_DATAA d = {};
        FindClose(FindFirstFileA(path, &d));
        return (static_cast<unsigned long long>(d.ftLastWriteTime.dwHighDateTime) << 32) | d.ftLastWriteTime.dwLowDateTime;
    };
    LoadLetters("ivan");
    ASSERT_EQ(3, g_letters.count);
    EXPECT_EQ(3, g_reads);
    int n = 0;
    std::uint64_t size = 0;
    MeasureMailbox("ivan", &n, &size);
    LoadLetters("ivan");
    EXPECT_EQ(3, g_reads) << "STAT and LIST take what the load read";
    EXPECT_EQ(6u, size);

    unsigned long long b_time = written(files[1]), c_time = written(files[2]);
    for (int i = 0; i < 3; ++i)   // a read now, b read before, c not read
        g_letters.letters[i].is_read = std::string(g_letters.letters[i].path) != files[2];
    CommitMailbox();
    EXPECT_EQ("Ra", ReadBytes(files[0]));
    EXPECT_EQ(b_time, written(files[1])) << "b kept its mark: not written";
    EXPECT_EQ(c_time, written(files[2])) << "c kept its mark: not written";
    Letter(files[1], "Rbb");   // changed from outside
    LoadLetters("ivan");
    EXPECT_EQ(5, g_reads) << "a, written by the commit, and b, changed, are read again";
    std::set<std::string> texts;
    for (int i = 0; i < 3; ++i) texts.insert(std::string(g_letters.letters[i].text, g_letters.letters[i].size));
    EXPECT_EQ((std::set<std::string>{"Ra", "Rbb", "0c"}), texts);
}

TEST_F(MailboxTest, NineteenCharacterNamesAndLongFileNamesFit) {
    const std::string name = "abcdefghijklmnopqrs";   // 19 characters
    Mailbox(name);
    const std::string file = name + "\\a-rather-long-letter-file-name.msg";
    Letter(file, "0text");
    EXPECT_EQ(1, CountLetters(name.c_str()));
    LoadLetters(name.c_str());
    ASSERT_EQ(1, g_letters.count);
    EXPECT_EQ(file, g_letters.letters[0].path);
    g_letters.letters[0].is_read = 1;
    CommitMailbox();
    EXPECT_EQ("Rtext", ReadBytes(file));
}

TEST_F(MailboxTest, NamesLeadingOutOfTheServerFolderOrIntoAnothersHaveNoMailbox) {
    Letter("outside.msg", "0secret");
    Mailbox("sub");
    Mailbox("ivan");
    Letter("ivan\\1.msg", "0ivan's");
    SetUsers({"..", "", "sub\\..", ".", "ivan", "IVAN", "ivan.", "ivan "});
    for (int u = 0; u < 8; ++u) {
        const char* folder = MailboxFolder(u);
        EXPECT_EQ(u == 4, folder != nullptr) << u;
        EXPECT_EQ(u == 4, CountLetters(folder)) << u;
    }
}

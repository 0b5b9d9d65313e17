// The user registry: loading, the three user commands with the user dialog, and what lands in
// Users.db after each of them.
#include "fileio.h"
#include "fixture.h"
#include "storage_util.h"
#include "users.h"

using harness::ListCell;
using harness::ListCount;
using harness::ReadBytes;
using storage::Bytes;
using storage::User;

namespace {

class UsersTest : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        OpenWindowWithPassword("pw");
        modals->OnDialog([](HWND dlg) {
            SetDlgItemTextA(dlg, IDC_ADMINPASSWORD, "pw");
            return IDOK;
        });
        Command(IDM_PASSWORD);
        ASSERT_TRUE(g_server.unlocked);
        modals->dialogs.clear();
    }
    // Queues the user dialog: fills the fields given (null: leave as is), picks a status by its
    // text (null: none), presses `button`.
    void Dialog(const char* name, const char* ip, const char* pw, const char* status, int button = IDOK) {
        modals->OnDialog([=](HWND dlg) {
            if (name) SetDlgItemTextA(dlg, IDC_USERNAME, name);
            if (ip) SetDlgItemTextA(dlg, IDC_USERIP, ip);
            if (pw) SetDlgItemTextA(dlg, IDC_USERPASSWORD, pw);
            if (status)
                SendDlgItemMessageA(dlg, IDC_USERSTATUS, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                                    reinterpret_cast<LPARAM>(status));
            dialog = dlg;
            return button;
        });
    }
    // The user dialog for a new user of this name, full access, nothing else filled.
    void AddUser(const char* name) {
        Dialog(name, "", "", "Полный доступ");
        Command(IDM_NEWUSER);
    }
    std::vector<std::string> Row(int row) {
        std::vector<std::string> r;
        for (int c = 0; c < 5; ++c) r.push_back(ListCell(g_server.user_list, row, c));
        return r;
    }
    // Table, list and file agree: record i of the file is record i of the table and row i.
    void ExpectAgreement() {
        std::string file = ReadBytes("Users.db");
        ASSERT_EQ(static_cast<int>(g_users.count), ListCount(g_server.user_list));
        for (std::uint32_t i = 0; i < g_users.count; ++i) {
            ASSERT_GE(file.size(), (i + 1) * USER_RECORD_SIZE);
            UserRecord rec = records::Decode(file.substr(i * USER_RECORD_SIZE));
            EXPECT_STREQ(rec.name, g_users.users[i].name) << i;
            EXPECT_EQ(rec.name, ListCell(g_server.user_list, i, 0)) << i;
        }
    }
    HWND dialog = nullptr;
};

}  // namespace

TEST_F(UsersTest, LoadFillsTableAndRowsFromWholeRecords) {
    std::string db = storage::Users({User("ivan", "192.168.0.1", "qwerty", ACCESS_READ_ONLY, 77),
                                     User("maria", "10.0.0.2", "m", -1)});
    db += std::string(10, 'x');   // an incomplete record is not loaded
    harness::WriteBytes("Users.db", db);
    storage::Mailbox("ivan");
    storage::Letter("ivan\\1.msg", "0a");
    storage::Letter("ivan\\2.msg", "0b");
    ASSERT_TRUE(LoadUsers());
    ASSERT_EQ(2u, g_users.count);
    EXPECT_EQ((std::vector<std::string>{"ivan", "192.168.0.1", "qwerty", "2", "Только чтение"}), Row(0));
    EXPECT_EQ((std::vector<std::string>{"maria", "10.0.0.2", "m", "0", "0"}), Row(1)) << "no status: the count";
    EXPECT_EQ(2, g_users.users[0].letter_count);
    EXPECT_EQ(db, ReadBytes("Users.db"));
    EXPECT_TRUE(modals->boxes.empty());
    ASSERT_TRUE(LoadUsers());
    EXPECT_EQ(2, ListCount(g_server.user_list)) << "loading again duplicates nothing";
}

TEST_F(UsersTest, RecordWithoutZeroBytesLoadsEachFieldCutToItsRoom) {
    // Written from outside: no text field has its NUL.
    harness::WriteBytes("Users.db", std::string(USER_RECORD_SIZE, 'A') + Bytes(User("bob", "1.1.1.1", "b")));
    ASSERT_TRUE(LoadUsers());
    ASSERT_EQ(2u, g_users.count);
    EXPECT_EQ(std::string(19, 'A'), ListCell(g_server.user_list, 0, 0));
    EXPECT_EQ(std::string(16, 'A'), ListCell(g_server.user_list, 0, 1));
    EXPECT_EQ(std::string(9, 'A'), ListCell(g_server.user_list, 0, 2));
    EXPECT_EQ((std::vector<std::string>{"bob", "1.1.1.1", "b", "0", "Полный доступ"}), Row(1));
    EXPECT_TRUE(modals->boxes.empty());
}

TEST_F(UsersTest, MissingFileWarnsAndChangesNothing) {
    EXPECT_FALSE(LoadUsers());
    ASSERT_EQ(1u, modals->boxes.size());
    ExpectWarning(0, "Файл пользователей поврежден или не существует!", 1);
    EXPECT_FALSE(harness::FileExists("Users.db"));
}

TEST_F(UsersTest, RecordsThatCannotBeReadWarnOnceEachAndTheLoadGoesOn) {
    harness::WriteBytes("Users.db", storage::Users({User("ivan"), User("maria")}));
    storage::Mailbox("ivan");
    storage::Letter("ivan\\1.msg", "0a");
    g_read_fails = true;   // the file opens, every read under it fails
    EXPECT_TRUE(LoadUsers()) << "read errors of single records are no failure of the load";
    g_read_fails = false;
    ASSERT_EQ(2u, modals->boxes.size());
    ExpectWarning(0, "Ошибка при чтении файла пользователей!");
    ExpectWarning(1, "Ошибка при чтении файла пользователей!");
    ASSERT_EQ(2u, g_users.count);
    ASSERT_EQ(2, ListCount(g_server.user_list)) << "a row for every record, filled from what it holds";
    EXPECT_EQ("", ListCell(g_server.user_list, 0, 0));
    EXPECT_EQ("0", ListCell(g_server.user_list, 0, 3));
    EXPECT_EQ(storage::Users({User("ivan"), User("maria")}), ReadBytes("Users.db")) << "the file is untouched";
}

TEST_F(UsersTest, NewUserIsAppendedFieldByFieldWithItsMailbox) {
    std::vector<std::string> statuses;
    modals->OnDialog([&](HWND dlg) {
        HWND combo = GetDlgItem(dlg, IDC_USERSTATUS);
        EXPECT_EQ(CB_ERR, SendMessageA(combo, CB_GETCURSEL, 0, 0)) << "no status preselected";
        for (int i = 0; i < SendMessageA(combo, CB_GETCOUNT, 0, 0); ++i) {
            char buf[64] = "";
            SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buf));
            statuses.push_back(buf);
        }
        SetDlgItemTextA(dlg, IDC_USERNAME, "abcdefghijklmnopqrstu");   // 21: cut to 19
        SetDlgItemTextA(dlg, IDC_USERIP, "123.123.123.123xyz");         // cut to 16
        SetDlgItemTextA(dlg, IDC_USERPASSWORD, "0123456789");           // cut to 9
        SendMessageA(combo, CB_SETCURSEL, 2, 0);
        return IDOK;
    });
    Command(IDM_NEWUSER);
    EXPECT_EQ((std::vector<std::string>{"Нет доступа", "Полный доступ", "Только чтение"}), statuses);
    EXPECT_EQ(storage::RecordBytes("abcdefghijklmnopqrs", "123.123.123.123x", "012345678", 0, 2),
              ReadBytes("Users.db"));
    EXPECT_TRUE(harness::DirExists("abcdefghijklmnopqrs"));
    EXPECT_EQ((std::vector<std::string>{"abcdefghijklmnopqrs", "123.123.123.123x", "012345678", "0", "Только чтение"}),
              Row(0));
    EXPECT_TRUE(modals->boxes.empty());

    Dialog("petr", "", "", nullptr);   // no status chosen
    Command(IDM_NEWUSER);
    EXPECT_EQ(storage::RecordBytes("petr", "", "", 0, -1), ReadBytes("Users.db").substr(55));
    EXPECT_EQ((std::vector<std::string>{"petr", "", "", "0", "0"}), Row(1));
    ExpectAgreement();
}

TEST_F(UsersTest, DialogRefusesNamesThatCannotBeAMailboxAndStaysOpen) {
    harness::WriteBytes("Users.db", Bytes(User("Ivan")));
    ASSERT_TRUE(LoadUsers());
    const std::string before = ReadBytes("Users.db");
    struct Case { const char* label; std::string name; const char* text; };
    const Case cases[] = {
        {"empty", "", "Недопустимое имя пользователя!"},
        {"dot", ".", "Недопустимое имя пользователя!"},
        {"dot dot", "..", "Недопустимое имя пользователя!"},
        {"backslash", "..\\evil", "Недопустимое имя пользователя!"},
        {"slash", "a/b", "Недопустимое имя пользователя!"},
        {"colon", "c:x", "Недопустимое имя пользователя!"},
        {"star", "a*", "Недопустимое имя пользователя!"},
        {"question", "a?", "Недопустимое имя пользователя!"},
        {"quote", "a\"b", "Недопустимое имя пользователя!"},
        {"less", "a<b", "Недопустимое имя пользователя!"},
        {"greater", "a>b", "Недопустимое имя пользователя!"},
        {"bar", "a|b", "Недопустимое имя пользователя!"},
        {"control character", "a\tb", "Недопустимое имя пользователя!"},
        {"trailing dot: the folder of Ivan", "Ivan.", "Недопустимое имя пользователя!"},
        {"trailing space", "bob ", "Недопустимое имя пользователя!"},
        {"a short name", "IVAN~2P1", "Недопустимое имя пользователя!"},
        {"a device", "CON", "Недопустимое имя пользователя!"},
        {"a device with an extension", "com1.txt", "Недопустимое имя пользователя!"},
        {"a device, spaced", "Lpt9 .x", "Недопустимое имя пользователя!"},
        {"a device of the console", "conout$", "Недопустимое имя пользователя!"},
        {"the registry's temporary file", "Users.tmp", "Недопустимое имя пользователя!"},
        {"the password's temporary file", "admin.TMP", "Недопустимое имя пользователя!"},
        {"taken", "Ivan", "Пользователь с таким именем уже существует!"},
        {"taken, other case", "IVAN", "Пользователь с таким именем уже существует!"},
    };
    for (const Case& c : cases) {
        modals->boxes.clear();
        bool open_at_box = false;
        modals->on_box = [&](const harness::Box&, HWND) {
            open_at_box = IsWindow(dialog) != FALSE;
            harness::PressButton(dialog, IDCANCEL);
        };
        Dialog(c.name.c_str(), "1.2.3.4", "p", "Полный доступ");
        Command(IDM_NEWUSER);
        ASSERT_EQ(1u, modals->boxes.size()) << c.label;
        ExpectWarning(0, c.text);
        EXPECT_TRUE(open_at_box) << c.label;
        EXPECT_EQ(before, ReadBytes("Users.db")) << c.label;
        EXPECT_EQ(1u, g_users.count) << c.label;
    }
    // Corrected in the open dialog, the name is taken.
    modals->boxes.clear();
    modals->on_box = [&](const harness::Box&, HWND) {
        SetDlgItemTextA(dialog, IDC_USERNAME, "Мария");
        harness::PressButton(dialog, IDOK);
    };
    Dialog("a:b", "1.2.3.4", "p", "Нет доступа");
    Command(IDM_NEWUSER);
    EXPECT_EQ(1u, modals->boxes.size());
    EXPECT_EQ(before + storage::RecordBytes("Мария", "1.2.3.4", "p", 0, 0), ReadBytes("Users.db"));
    EXPECT_TRUE(harness::DirExists("Мария"));
    ExpectAgreement();
}

TEST_F(UsersTest, CancelChangesNothing) {
    harness::WriteBytes("Users.db", Bytes(User("ivan")));
    ASSERT_TRUE(LoadUsers());
    Dialog("petr", "1", "2", "Нет доступа", IDCANCEL);
    Command(IDM_NEWUSER);
    harness::SelectRow(g_server.user_list, 0);
    Dialog("petr", "1", "2", "Нет доступа", IDCANCEL);
    Command(IDM_EDITUSER);
    EXPECT_EQ(Bytes(User("ivan")), ReadBytes("Users.db"));
    EXPECT_FALSE(harness::DirExists("petr"));
    EXPECT_EQ(1, ListCount(g_server.user_list));
    EXPECT_TRUE(modals->boxes.empty());
}

TEST_F(UsersTest, ExistingFolderWarnsButTheUserIsRegistered) {
    storage::Mailbox("olga");
    storage::Letter("olga\\1.msg", "0x");
    AddUser("olga");
    ASSERT_EQ(1u, modals->boxes.size());
    ExpectWarning(0, "Ошибка при создании почтового ящика!");
    EXPECT_EQ(storage::RecordBytes("olga", "", "", 0, 1), ReadBytes("Users.db"));
    EXPECT_EQ("0", ListCell(g_server.user_list, 0, 3));

    // A file where the folder would go: no mailbox, so no user.
    harness::WriteBytes("anna", "x");
    AddUser("anna");
    ASSERT_EQ(2u, modals->boxes.size());
    ExpectWarning(1, "Ошибка при создании почтового ящика!");
    EXPECT_EQ(storage::RecordBytes("olga", "", "", 0, 1), ReadBytes("Users.db"));
    EXPECT_EQ(1u, g_users.count);
    ExpectAgreement();
}

TEST_F(UsersTest, DeleteRemovesTheRecordAndOnlyAnEmptyMailbox) {
    harness::WriteBytes("Users.db", storage::Users({User("A"), User("B"), User("C"), User("D")}));
    storage::Mailbox("B");
    storage::Mailbox("C");
    storage::Letter("C\\1.msg", "0keep");
    ASSERT_TRUE(LoadUsers());
    harness::SelectRow(g_server.user_list, 1);
    Command(IDM_DELUSER);
    EXPECT_EQ(storage::Users({User("A"), User("C", "10.0.0.1", "pw", ACCESS_FULL, 1), User("D")}),
              ReadBytes("Users.db"));
    EXPECT_FALSE(harness::DirExists("B"));
    ExpectAgreement();
    harness::SelectRow(g_server.user_list, 1);
    Command(IDM_DELUSER);
    EXPECT_TRUE(harness::DirExists("C")) << "a mailbox with letters stays";
    EXPECT_EQ("0keep", ReadBytes("C\\1.msg"));
    for (int i = 0; i < 2; ++i) {
        harness::SelectRow(g_server.user_list, 0);
        Command(IDM_DELUSER);
    }
    EXPECT_EQ("", ReadBytes("Users.db"));
    EXPECT_TRUE(harness::FileExists("Users.db"));
    EXPECT_EQ(0, ListCount(g_server.user_list));
    Command(IDM_DELUSER);   // nothing selected: silent
    EXPECT_TRUE(modals->boxes.empty());
}

TEST_F(UsersTest, EditRewritesTheRecordAndKeepsTheCountCell) {
    harness::WriteBytes("Users.db", storage::Users({User("ivan"), User("maria")}));
    storage::Mailbox("ivan");
    storage::Letter("ivan\\1.msg", "0a");
    ASSERT_TRUE(LoadUsers());
    harness::SelectRow(g_server.user_list, 0);
    std::string shown[3];
    modals->OnDialog([&](HWND dlg) {
        shown[0] = harness::ItemText(dlg, IDC_USERNAME);
        shown[1] = harness::ItemText(dlg, IDC_USERIP);
        shown[2] = harness::ItemText(dlg, IDC_USERPASSWORD);
        EXPECT_EQ(CB_ERR, SendDlgItemMessageA(dlg, IDC_USERSTATUS, CB_GETCURSEL, 0, 0));
        SetDlgItemTextA(dlg, IDC_USERNAME, "ivan2");
        SendDlgItemMessageA(dlg, IDC_USERSTATUS, CB_SETCURSEL, 0, 0);
        return IDOK;
    });
    Command(IDM_EDITUSER);
    EXPECT_EQ("ivan", shown[0]);
    EXPECT_EQ("10.0.0.1", shown[1]);
    EXPECT_EQ("pw", shown[2]);
    EXPECT_EQ(storage::RecordBytes("ivan2", "10.0.0.1", "pw", 0, 0) + Bytes(User("maria")), ReadBytes("Users.db"));
    EXPECT_EQ((std::vector<std::string>{"ivan2", "10.0.0.1", "pw", "1", "Нет доступа"}), Row(0));
    EXPECT_TRUE(harness::DirExists("ivan"));
    EXPECT_FALSE(harness::DirExists("ivan2"));

    // Keeping one's own name is no clash; taking another user's is.
    harness::SelectRow(g_server.user_list, 1);
    Dialog(nullptr, nullptr, "new", nullptr);
    Command(IDM_EDITUSER);
    EXPECT_TRUE(modals->boxes.empty());
    EXPECT_EQ((std::vector<std::string>{"maria", "10.0.0.1", "new", "0", "0"}), Row(1));
    modals->on_box = [&](const harness::Box&, HWND) { harness::PressButton(dialog, IDCANCEL); };
    harness::SelectRow(g_server.user_list, 1);
    Dialog("ivan2", nullptr, nullptr, nullptr);
    Command(IDM_EDITUSER);
    ASSERT_EQ(1u, modals->boxes.size());
    ExpectWarning(0, "Пользователь с таким именем уже существует!");
    EXPECT_STREQ("maria", g_users.users[1].name);
    ExpectAgreement();
}

TEST_F(UsersTest, CommandsBeforeTheFirstLoadLoseNoRecord) {
    const std::string two = storage::Users({User("A"), User("B")});
    harness::WriteBytes("Users.db", two);
    AddUser("C");
    EXPECT_EQ(two + storage::RecordBytes("C", "", "", 0, 1), ReadBytes("Users.db"));
    EXPECT_EQ(3u, g_users.count);
    ExpectAgreement();

    // After Stop the list is empty; a delete loads the registry and deletes nothing.
    SendMessageA(g_server.user_list, LVM_DELETEALLITEMS, 0, 0);
    const std::string three = ReadBytes("Users.db");
    Command(IDM_DELUSER);
    EXPECT_EQ(three, ReadBytes("Users.db"));
    ExpectAgreement();
    SendMessageA(g_server.user_list, LVM_DELETEALLITEMS, 0, 0);
    Command(IDM_EDITUSER);
    EXPECT_EQ(three, ReadBytes("Users.db"));
    ExpectAgreement();
    EXPECT_TRUE(modals->boxes.empty());
}

TEST_F(UsersTest, NewUserGoesBehindTheLastWholeRecordOfADamagedFile) {
    const std::string one = Bytes(User("A"));
    harness::WriteBytes("Users.db", one + "garbage");
    ASSERT_TRUE(LoadUsers());
    AddUser("B");
    EXPECT_EQ(one + storage::RecordBytes("B", "", "", 0, 1), ReadBytes("Users.db"));
    ASSERT_TRUE(LoadUsers());
    ExpectAgreement();
}

TEST_F(UsersTest, TwentyUsersAtMostAndRecordsBeyondSurvive) {
    std::string db;
    for (int i = 0; i < 22; ++i) db += Bytes(User(("u" + std::to_string(i)).c_str()));
    harness::WriteBytes("Users.db", db);
    ASSERT_TRUE(LoadUsers());
    EXPECT_EQ(20u, g_users.count);
    ASSERT_EQ(1u, modals->boxes.size());
    ExpectWarning(0, "В файле пользователей больше 20 записей! Загружены первые 20.");

    Command(IDM_NEWUSER);   // refused before the dialog
    ASSERT_EQ(2u, modals->boxes.size());
    ExpectWarning(1, "Нельзя добавить больше 20 пользователей!");
    EXPECT_EQ(db, ReadBytes("Users.db"));

    harness::SelectRow(g_server.user_list, 3);
    Dialog(nullptr, nullptr, "x", "Полный доступ");
    Command(IDM_EDITUSER);
    std::string edited = db;
    edited.replace(3 * 55, 55, storage::RecordBytes("u3", "10.0.0.1", "x", 0, 1));
    EXPECT_EQ(edited, ReadBytes("Users.db")) << "u20 and u21 are kept";

    harness::SelectRow(g_server.user_list, 0);
    Command(IDM_DELUSER);
    EXPECT_EQ(edited.substr(55), ReadBytes("Users.db"));
    EXPECT_EQ(20u, g_users.count) << "u20 moves into the table";
    EXPECT_EQ("u20", ListCell(g_server.user_list, 19, 0));
    ExpectAgreement();
}

TEST_F(UsersTest, FailedRewritesLeaveTheOldFileWhole) {
    const std::string db = storage::Users({User("A"), User("B"), User("C")});
    harness::WriteBytes("Users.db", db);
    ASSERT_TRUE(LoadUsers());

    g_write_room = 60;   // the disk fills up within the second record
    harness::SelectRow(g_server.user_list, 0);
    Command(IDM_DELUSER);
    EXPECT_EQ(db, ReadBytes("Users.db"));
    ASSERT_EQ(1u, modals->boxes.size());
    ExpectWarning(0, "Ошибка при записи файла!");
    ExpectAgreement();
    EXPECT_FALSE(harness::FileExists("Users.tmp"));

    g_write_room = 20;   // an append that does not fit
    AddUser("D");
    EXPECT_EQ(db, ReadBytes("Users.db"));
    ASSERT_EQ(2u, modals->boxes.size());
    ExpectWarning(1, "Ошибка при записи файла!");
    EXPECT_EQ(3u, g_users.count);
    g_write_room = -1;

    HANDLE held = CreateFileA("Users.db", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    harness::SelectRow(g_server.user_list, 1);
    Dialog(nullptr, nullptr, "zz", "Нет доступа");
    Command(IDM_EDITUSER);
    CloseHandle(held);
    EXPECT_EQ(db, ReadBytes("Users.db"));
    ASSERT_EQ(3u, modals->boxes.size());
    ExpectWarning(2, "Ошибка открытия файла пользователей!");
    EXPECT_EQ("pw", ListCell(g_server.user_list, 1, 2));
    ExpectAgreement();
}

TEST_F(UsersTest, UserDialogFollowsItsTemplate) {
    using namespace harness;
    const DialogTemplate user = {"Информация о пользователе", 160, 177,
                                 {{IDC_USERNAME, kEdit, "", 18, 24, 124, 12},
                                  {IDC_USERIP, kEdit, "", 18, 52, 124, 12},
                                  {IDC_USERPASSWORD, kEdit, "", 18, 80, 124, 12},
                                  {IDC_USERSTATUS, kSortedDropList, "", 18, 108, 124, 51},
                                  {IDOK, kPushButton, "Да", 52, 136, 56, 16},
                                  {IDCANCEL, kPushButton, "Отмена", 52, 156, 56, 16},
                                  {101, kEtchedFrame, "", 4, 4, 152, 128},
                                  {102, kCentredText, "Имя пользователя:", 44, 12, 72, 8},
                                  {103, kCentredText, "IP-адрес пользователя", 32, 40, 96, 8},
                                  {100, kCentredText, "Пароль:", 66, 68, 28, 8},
                                  {104, kCentredText, "Статус пользователя:", 34, 96, 92, 8}}};
    ExpectDialog(IDM_NEWUSER, user);
}

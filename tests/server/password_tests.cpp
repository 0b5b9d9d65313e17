// The password dialog, "Пароль" and "Назначить пароль", and the lock over the user commands.
#include "fileio.h"
#include "fixture.h"
#include "users.h"

using harness::MenuEnabled;
using harness::ReadBytes;

namespace {

const int kGuarded[] = {IDM_SETPASSWORD, IDM_NEWUSER, IDM_DELUSER, IDM_EDITUSER};

class PasswordTest : public ServerTest {
protected:
    // Runs a command whose password dialog gets `entry` and then `button`.
    void Enter(int command, const std::string& entry, int button = IDOK) {
        modals->OnDialog([=](HWND dlg) {
            SetDlgItemTextA(dlg, IDC_ADMINPASSWORD, entry.c_str());
            return button;
        });
        Command(command);
        EXPECT_EQ(0, modals->PendingActions());
    }
    bool Unlocked() {
        int n = 0;
        for (int id : kGuarded) n += MenuEnabled(wnd, id);
        EXPECT_TRUE(n == 0 || n == 4) << "the four items move together";
        return n == 4;
    }
};

}  // namespace

TEST_F(PasswordTest, DialogFollowsItsTemplateAndCancelKeepsTheLock) {
    using namespace harness;
    const DialogTemplate password = {"Пароль", 145, 89,
                                     {{IDC_ADMINPASSWORD, kPasswordEdit, "", 8, 24, 128, 12},
                                      {IDOK, kPushButton, "Да", 47, 52, 50, 14},
                                      {IDCANCEL, kPushButton, "Отмена", 47, 68, 50, 14},
                                      {100, kLeftText, "Введите пароль:", 42, 12, 60, 8},
                                      {101, kEtchedFrame, "", 4, 4, 136, 40}}};
    OpenWindowWithPassword("pw");
    ExpectDialog(IDM_PASSWORD, password);
    EXPECT_FALSE(Unlocked());
    EXPECT_TRUE(modals->boxes.empty());
}

TEST_F(PasswordTest, EntriesOpenTheLockOnlyWhenEqual) {
    struct Case { const char* label; std::string file; std::string entry; bool opens; };
    const Case cases[] = {
        {"the password", "secret", "secret", true},
        {"case counts", "secret", "Secret", false},
        {"a trailing space counts", "secret", "secret ", false},
        {"cancel", "secret", "", false},
        {"empty file: empty entry", "", "", true},
        {"cyrillic", "пароль", "пароль", true},
        {"ten characters", "0123456789", "0123456789", true},
        {"a longer entry counts by its first ten", "0123456789", "0123456789abc", true},
        {"eleven bytes without a zero can't be matched", "0123456789A", "0123456789A", false},
    };
    for (const Case& c : cases) {
        FreshState();
        modals->boxes.clear();
        OpenWindowWithPassword(c.file);
        bool cancel = std::string(c.label) == "cancel";
        Enter(IDM_PASSWORD, c.entry, cancel ? IDCANCEL : IDOK);
        EXPECT_EQ(c.opens, Unlocked()) << c.label;
        if (c.opens || cancel) {
            EXPECT_TRUE(modals->boxes.empty()) << c.label;
        } else {
            ASSERT_EQ(1u, modals->boxes.size()) << c.label;
            ExpectWarning(0, "Неверный пароль!", 1);
        }
        EXPECT_EQ(c.file, ReadBytes("Admin.psw")) << c.label;
        DestroyWindow(wnd);
    }
}

TEST_F(PasswordTest, LockedCommandsRefuseWhenSentPastTheGreyedMenu) {
    OpenWindowWithPassword("secret");
    harness::WriteBytes("Users.db", "");
    for (int id : kGuarded) Command(id);
    EXPECT_EQ(std::vector<std::string>{}, modals->unexpected) << "a dialog opened";
    EXPECT_TRUE(modals->boxes.empty());
    EXPECT_EQ("", ReadBytes("Users.db"));
    EXPECT_EQ("secret", ReadBytes("Admin.psw"));
}

TEST_F(PasswordTest, AWrongEntryLeavesAnOpenLockOpen) {
    OpenWindowWithPassword("secret");
    Enter(IDM_PASSWORD, "secret");
    ASSERT_TRUE(Unlocked());
    Enter(IDM_PASSWORD, "wrong");
    EXPECT_TRUE(Unlocked());
    ASSERT_EQ(1u, modals->boxes.size());
    ExpectWarning(0, "Неверный пароль!", 1);
}

TEST_F(PasswordTest, SettingWritesElevenBytesAndTheOldPasswordStaysInForce) {
    OpenWindowWithPassword("old");
    Enter(IDM_PASSWORD, "old");
    Enter(IDM_SETPASSWORD, "новый");
    EXPECT_EQ(std::string("новый\0\0\0\0\0\0", 11), ReadBytes("Admin.psw"));
    EXPECT_FALSE(harness::FileExists("Admin.tmp"));
    EXPECT_TRUE(modals->boxes.empty());
    Enter(IDM_SETPASSWORD, "0123456789abcdef");
    EXPECT_EQ(std::string("0123456789\0", 11), ReadBytes("Admin.psw")) << "cut to ten characters";
    Enter(IDM_SETPASSWORD, "");
    EXPECT_EQ(std::string(11, '\0'), ReadBytes("Admin.psw"));
    Enter(IDM_SETPASSWORD, "ignored", IDCANCEL);
    EXPECT_EQ(std::string(11, '\0'), ReadBytes("Admin.psw")) << "cancel touches no file";
    EXPECT_TRUE(Unlocked());

    Enter(IDM_PASSWORD, "");
    ASSERT_EQ(1u, modals->boxes.size()) << "the new password applies from the next start";
    Enter(IDM_PASSWORD, "old");
    EXPECT_EQ(1u, modals->boxes.size());
}

TEST_F(PasswordTest, AFailedWriteLeavesTheOldPasswordFileWhole) {
    OpenWindowWithPassword(std::string("keep\0\0\0\0\0\0\0", 11));
    Enter(IDM_PASSWORD, "keep");
    g_write_room = 5;   // the disk fills up halfway through the 11 bytes
    Enter(IDM_SETPASSWORD, "newpass");
    EXPECT_EQ(std::string("keep\0\0\0\0\0\0\0", 11), ReadBytes("Admin.psw"));
    EXPECT_FALSE(harness::FileExists("Admin.tmp"));
    ASSERT_EQ(1u, modals->boxes.size());
    ExpectWarning(0, "Ошибка при записи файла!", 1);
    EXPECT_TRUE(Unlocked());
}

TEST_F(PasswordTest, APasswordFileHeldOpenElsewhereIsNotReplaced) {
    OpenWindowWithPassword("keep");
    Enter(IDM_PASSWORD, "keep");
    HANDLE held = CreateFileA("Admin.psw", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    Enter(IDM_SETPASSWORD, "newpass");
    CloseHandle(held);
    EXPECT_EQ("keep", ReadBytes("Admin.psw"));
    EXPECT_FALSE(harness::FileExists("Admin.tmp"));
    ASSERT_EQ(1u, modals->boxes.size());
    ExpectWarning(0, "Ошибка создания файла пароля!", 1);
}

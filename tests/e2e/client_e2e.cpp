// Vindle.exe against Quorrel.exe, both under Wine, driven from outside as a person would: connect,
// log in, statistics, list, read, delete, quit; then what the server left on disk.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <map>
#include <sstream>

#include "client/resource.h"
#include "pop3_client.h"
#include "server/commands.h"
#include "wine_app.h"

namespace {


std::string Id(int id) { return std::to_string(id); }

std::string Vindle(const std::vector<std::string>& actions) { return e2e::Drive(actions, 30000, "vdriver.exe"); }

// The lines of the driver's output that start with `tag`, tab-separated fields after it.
std::vector<std::vector<std::string>> Lines(const std::string& out, const std::string& tag) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, tag.size() + 1, tag + "\t") != 0) continue;
        std::vector<std::string> fields;
        std::size_t p = tag.size() + 1;
        for (;;) {
            std::size_t t = line.find('\t', p);
            fields.push_back(line.substr(p, t - p));
            if (t == std::string::npos) break;
            p = t + 1;
        }
        lines.push_back(fields);
    }
    return lines;
}

// Three letters of different sizes, so that a row's size names its file.
const std::string kA = "0Первое письмо.\r\nВторая строка.";
const std::string kB = "0Second letter, somewhat longer than the first one.";
const std::string kC = "RТретье, уже прочитанное: самое длинное письмо из всех трёх.";

TEST(ClientE2E, AWholeConversationFromTheClientsButtons) {
    ASSERT_FALSE(e2e::Listening(110)) << "something else listens on port 110";
    ASSERT_TRUE(e2e::Exists(e2e::WinBuildDir() + "/client/Vindle.exe"));
    e2e::Quorrel q;
    ASSERT_TRUE(e2e::WriteFile(q.dir / "Users.db", e2e::UserBytes("ivan", "pw1", 1)));
    ASSERT_TRUE(e2e::MakeDir(q.dir / "ivan"));
    const std::map<std::string, std::string> files = {{"a.msg", kA}, {"b.msg", kB}, {"c.msg", kC}};
    for (const auto& f : files) ASSERT_TRUE(e2e::WriteFile(q.dir / ("ivan/" + f.first), f.second));
    ASSERT_TRUE(q.Launch());
    q.Command(IDM_START);

    e2e::TempFolder client_dir;
    e2e::WineProcess vindle;
    ASSERT_TRUE(vindle.Start(e2e::WinBuildDir() + "/client/Vindle.exe", client_dir.path()));
    std::string out = Vindle({"wait", "state"});
    ASSERT_NE(std::string::npos, out.find("state 1 0 0 0 0 0 0 0")) << out;

    // Connect and log in: the command buttons come on.
    out = Vindle({"connect", "127.0.0.1", "ivan", "pw1", "enabled", Id(IDC_STATISTICS), "10000", "state"});
    ASSERT_NE(std::string::npos, out.find("state 0 1 1 1 1 1 1 1")) << out;

    // Statistics: the box's caption and text, byte for byte.
    out = Vindle({"cmd", Id(IDC_STATISTICS), "box", "10000"});
    auto boxes = Lines(out, "box");
    ASSERT_EQ(1u, boxes.size()) << out;
    EXPECT_EQ("Статистика.", boxes[0][0]);
    std::string total = std::to_string(kA.size() + kB.size() + kC.size());
    EXPECT_EQ(e2e::Hex("Сообщений: 3\n         Размер: " + total + " байт."), boxes[0][1]);

    // The list: three rows numbered 1 to 3, each with its own letter's size.
    out = Vindle({"cmd", Id(IDC_LIST), "rows", "3", "10000"});
    auto rows = Lines(out, "row");
    ASSERT_EQ(3u, rows.size()) << out;
    std::map<std::string, std::string> file_of_size;
    for (const auto& f : files) file_of_size[std::to_string(f.second.size())] = f.first;
    std::vector<std::string> row_file;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(std::to_string(i + 1), rows[i][0]);
        ASSERT_EQ(1u, file_of_size.count(rows[i][1])) << "size " << rows[i][1];
        row_file.push_back(file_of_size[rows[i][1]]);
        EXPECT_EQ("", rows[i][2]);
    }

    // Read the first row: its text, status byte first, and the mark.
    out = Vindle({"select", "0", "cmd", Id(IDC_READ), "text", "10000", "cell", "0", "2", "read", "10000"});
    auto text = Lines(out, "text");
    ASSERT_EQ(1u, text.size()) << out;
    EXPECT_EQ(e2e::Hex(files.at(row_file[0])), text[0][0]);
    EXPECT_NE(std::string::npos, out.find("cell ok")) << out;

    // Delete the second row: marked, still listed, still on disk until QUIT.
    out = Vindle({"select", "1", "cmd", Id(IDC_DELETE), "cell", "1", "2", "deleted", "10000", "rows", "3", "1000"});
    EXPECT_NE(std::string::npos, out.find("cell ok")) << out;
    EXPECT_TRUE(e2e::Exists(q.dir / ("ivan/" + row_file[1])));

    // Quit: the conversation ends quietly, the window goes back to its start.
    out = Vindle({"cmd", Id(IDC_QUIT), "enabled", Id(IDC_CONNECT), "10000", "nobox", "1500", "rows", "0", "3000", "state"});
    EXPECT_NE(std::string::npos, out.find("nobox")) << out;
    EXPECT_NE(std::string::npos, out.find("state 1 0 0 0 0 0 0 0")) << out;
    EXPECT_TRUE(Lines(out, "row").empty()) << out;

    // What the commit at QUIT left: the deleted letter gone, the read one marked 'R', the
    // third one as it was.
    for (int k = 0; k < 50 && e2e::Exists(q.dir / ("ivan/" + row_file[1])); ++k) usleep(100 * 1000);
    EXPECT_FALSE(e2e::Exists(q.dir / ("ivan/" + row_file[1])));
    std::string read = files.at(row_file[0]);
    read[0] = 'R';
    EXPECT_EQ(read, e2e::ReadFile(q.dir / ("ivan/" + row_file[0])));
    EXPECT_EQ(files.at(row_file[2]), e2e::ReadFile(q.dir / ("ivan/" + row_file[2])));
    EXPECT_EQ(2u, e2e::ListDir(q.dir / "ivan").size());

    // Closing the client ends it with code 0.
    Vindle({"close"});
    int code = -1;
    EXPECT_TRUE(vindle.Wait(10000, &code));
    EXPECT_EQ(0, code);
    EXPECT_TRUE(q.Close(&code));
    EXPECT_EQ(0, code);
}

}  // namespace

namespace {

// A user whose name, password and folder are Russian: the name travels from the dialog through
// the frames to the folder's name on disk.
TEST(ClientE2E, ARussianUserReadsALetterFromARussianFolder) {
    ASSERT_FALSE(e2e::Listening(110)) << "something else listens on port 110";
    e2e::Quorrel q;
    ASSERT_TRUE(e2e::WriteFile(q.dir / "Users.db", e2e::UserBytes("Мария", "пароль", 1)));   // Windows-1251
    // On the Linux side Wine keeps file names in UTF-8.
    const std::string folder = u8"Мария";
    const std::string letter = "0Письмо для Марии.";
    ASSERT_TRUE(e2e::MakeDir(q.dir / folder));
    ASSERT_TRUE(e2e::WriteFile(q.dir / (folder + u8"/письмо.msg"), letter));
    ASSERT_TRUE(q.Launch());
    q.Command(IDM_START);

    e2e::TempFolder client_dir;
    e2e::WineProcess vindle;
    ASSERT_TRUE(vindle.Start(e2e::WinBuildDir() + "/client/Vindle.exe", client_dir.path()));
    // The driver's command line is UTF-8; Wine hands it over in Windows-1251.
    std::string out = Vindle({"wait", "connect", "127.0.0.1", u8"Мария", u8"пароль", "enabled", Id(IDC_LIST), "10000",
                              "cmd", Id(IDC_LIST), "rows", "1", "10000", "select", "0", "cmd", Id(IDC_READ), "text", "10000",
                              "cmd", Id(IDC_QUIT), "enabled", Id(IDC_CONNECT), "10000", "nobox", "1000"});
    auto rows = Lines(out, "row");
    ASSERT_EQ(1u, rows.size()) << out;
    EXPECT_EQ(std::to_string(letter.size()), rows[0][1]);
    auto text = Lines(out, "text");
    ASSERT_EQ(1u, text.size()) << out;
    EXPECT_EQ(e2e::Hex(letter), text[0][0]);
    EXPECT_NE(std::string::npos, out.find("nobox")) << out;

    std::string read = letter;
    read[0] = 'R';
    std::string on_disk;
    for (int k = 0; k < 50 && (on_disk = e2e::ReadFile(q.dir / (folder + u8"/письмо.msg"))) != read; ++k)
        usleep(100 * 1000);
    EXPECT_EQ(read, on_disk) << "marked read at QUIT";
    Vindle({"close"});
    int code = -1;
    EXPECT_TRUE(vindle.Wait(10000, &code));
    EXPECT_TRUE(q.Close(&code));
}

}  // namespace

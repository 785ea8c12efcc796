#include "scheduler/core/netlist.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/testenv.h"

namespace core {
namespace {

// Scrambled, stored and read back as the list does it.
TEST(ScrambleCredential, ComesBackFromTheListAndIsCutAt255Characters) {
  for (const std::string& text : {std::string(""), std::string("secret"), std::string("pässwörd\\\n"),
                                 std::string(255, 'x')}) {
    EXPECT_EQ(DecodeCredential(EncodeCredential(text)), text);
    EXPECT_EQ(ScrambleCredential(text).size(), text.size());
  }
  EXPECT_EQ(ScrambleCredential("A"), std::string(1, static_cast<char>('A' ^ 0x5B)));
  EXPECT_EQ(DecodeCredential(EncodeCredential(std::string(300, 'y'))), std::string(255, 'y'));
  // 255 characters of two bytes each: cut between characters, never inside one.
  std::string accents;
  for (int i = 0; i < 300; ++i) accents += "é";
  EXPECT_EQ(DecodeCredential(EncodeCredential(accents)).size(), 510u);
}

// 'Q' scrambles to a line feed, 'V' to a carriage return, '\x07' to "\", '[' to NUL: such
// credentials must still come back whole from their line.
TEST(NetworkLine, EveryCredentialComesBackFromItsLine) {
  const NetworkComputerEntry cases[] = {
      {"SERVER", "admin", "secret"},
      {"PC1", "Quentin", "Vivaldi[1]"},
      {"PC2", "a\x07" "b", "x@y\\z"},
      {"PC3", "", ""},
      {"PC4", "jérôme", "mot de passe"},
  };
  for (const auto& e : cases) {
    const std::string line = NetworkLine(e);
    EXPECT_EQ(line.find_first_of(std::string("\r\n\0", 3)), std::string::npos) << e.login;
    for (unsigned char c : line.substr(e.computer.size())) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << e.login;
    const NetworkComputerEntry back = ParseNetworkLine(line);
    EXPECT_EQ(back.computer, e.computer);
    EXPECT_EQ(back.login, e.login);
    EXPECT_EQ(back.password, e.password);
  }
}

TEST(NetworkLine, ReadsLinesWrittenWithoutEscapes) {
  // A plain scrambled line as older lists hold it.
  const std::string line = "SERVER\\" + ScrambleCredential("bob") + "\\" + ScrambleCredential("pw");
  const NetworkComputerEntry e = ParseNetworkLine(line);
  EXPECT_EQ(e.computer, "SERVER");
  EXPECT_EQ(e.login, "bob");
  EXPECT_EQ(e.password, "pw");
  EXPECT_EQ(ParseNetworkLine("").computer, "");
  EXPECT_EQ(ParseNetworkLine("ONLY").login, "");
}

TEST(NetworkLine, FieldsOfShortAndLongLines) {
  const std::string l = ScrambleCredential("l"), p = ScrambleCredential("p");
  const struct {
    std::string line, computer, login, password;
  } cases[] = {
      {"", "", "", ""},
      {"ONLY", "ONLY", "", ""},
      {"PC\\" + l, "PC", "l", ""},
      {"PC\\\\" + p, "PC", "", "p"},
      {"\\" + l + "\\" + p, "", "l", "p"},
      {"PC\\" + l + "\\" + p + "\\", "PC", "l", "p"},
      {"PC\\" + l + "\\" + p + "\\more\\fields", "PC", "l", "p"},
  };
  for (const auto& c : cases) {
    const NetworkComputerEntry e = ParseNetworkLine(c.line);
    EXPECT_EQ(e.computer, c.computer) << c.line;
    EXPECT_EQ(e.login, c.login) << c.line;
    EXPECT_EQ(e.password, c.password) << c.line;
  }
}

// Characters of a UTF-8 text: the bytes that start one.
std::size_t Characters(const std::string& text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

// Damaged lines: every field comes out at most 255 characters and 1,020 bytes long, whatever
// shape the line has, so no huge field reaches the window, the tree or a command.
TEST(NetworkLine, EveryFieldOfADamagedLineIsBounded) {
  const std::size_t size = 4u << 20;
  const std::string huge(size, 'x'), l = ScrambleCredential("l"), p = ScrambleCredential("p");
  std::string invalid;  // bytes that are no UTF-8: lone continuations, 0xFE, 0xFF, a cut lead
  while (invalid.size() < size) invalid += "\x80\xBF\xFE\xFF\xC3";
  std::string scrambledInvalid = invalid;  // what reads back as `invalid`
  for (char& c : scrambledInvalid) c = static_cast<char>(c ^ 0x5B);
  std::string escapes;
  while (escapes.size() < size) escapes += "@1B";  // "@" scrambled and escaped
  const struct {
    const char* shape;
    std::string line, computer, login, password;
  } cases[] = {
      {"no separator", std::string(size, 'A'), std::string(255, 'A'), "", ""},
      {"huge computer", "grosserveur" + huge + "\\" + l + "\\" + p, "grosserveur" + std::string(244, 'x'), "l", "p"},
      {"huge login", "PC1\\" + huge + "\\" + p, "PC1", std::string(255, 'x' ^ 0x5B), "p"},
      {"huge password", "PC1\\" + l + "\\" + huge, "PC1", "l", std::string(255, 'x' ^ 0x5B)},
      {"huge escapes", "PC1\\" + std::string(size, '@') + "\\" + escapes, "PC1", std::string(255, '@' ^ 0x5B),
       std::string(255, '@')},
      {"NUL bytes", std::string("PC\0", 3) + std::string(size, '\0') + "\\" + std::string("l\0", 2) + "\\" +
                        std::string(size, '\0'),
       std::string("PC\0", 3) + std::string(252, '\0'), std::string("\x37\x5B", 2), std::string(255, '\x5B')},
      // Bytes that start no character are cut by their count.
      {"continuation bytes only", std::string(size, '\x80'), std::string(1020, '\x80'), "", ""},
      // A character's trailing bytes stay with it: the 255th ends before the next lead byte.
      {"invalid UTF-8", "PC" + invalid + "\\" + scrambledInvalid + "\\" + scrambledInvalid,
       "PC" + invalid.substr(0, 423), invalid.substr(0, 427), invalid.substr(0, 427)},
  };
  for (const auto& c : cases) {
    const NetworkComputerEntry e = ParseNetworkLine(c.line);
    for (const std::string* field : {&e.computer, &e.login, &e.password}) {
      EXPECT_LE(field->size(), 1020u) << c.shape;
      EXPECT_LE(Characters(*field), 255u) << c.shape;
    }
    EXPECT_EQ(e.computer, c.computer) << c.shape;
    EXPECT_EQ(e.login, c.login) << c.shape;
    EXPECT_EQ(e.password, c.password) << c.shape;
  }
}

// The longest fields the page writes come back as they were.
TEST(NetworkLine, TheLongestWrittenFieldsComeBackWhole) {
  std::string wide;  // 255 characters of four bytes each
  for (int i = 0; i < 255; ++i) wide += "\xF0\x9F\x98\x80";
  const NetworkComputerEntry cases[] = {
      {std::string(255, 'n'), std::string(255, 'Q'), std::string(255, '@')},
      {wide, wide, wide},
  };
  for (const auto& entry : cases) {
    const NetworkComputerEntry back = ParseNetworkLine(NetworkLine(entry));
    EXPECT_EQ(back.computer, entry.computer);
    EXPECT_EQ(back.login, entry.login);
    EXPECT_EQ(back.password, entry.password);
  }
}

TEST(NetworkList, FirstLineContainingIsASubstringTestInFileOrder) {
  const std::vector<std::string> lines{"SERVER\\a\\b", "PC1\\a\\b", "PC\\a\\b"};
  EXPECT_EQ(FirstLineContaining(lines, "PC"), 1);
  EXPECT_EQ(FirstLineContaining(lines, "SERVER"), 0);
  EXPECT_EQ(FirstLineContaining(lines, "NAS"), -1);
  EXPECT_EQ(FirstLineContaining(lines, ""), -1);
}

TEST(NetworkList, ComputerOfATreeSelection) {
  const std::pair<std::string, std::string> cases[] = {
      {"//SERVER/public", "SERVER"}, {"//SERVER", "SERVER"}, {"//SERVER/", "SERVER"},
      {"/home/user", "/home/user"},  {"", ""},
  };
  for (const auto& [path, computer] : cases) EXPECT_EQ(ComputerOfTreePath(path), computer) << path;
}

TEST(NetworkList, AppendReadRewriteAndRemove) {
  const std::string path = NetworkListPath(testenv::makeDir("data").string() + "/");
  EXPECT_TRUE(ReadNetworkList(path).empty());
  AppendNetworkLine(path, "A\\x\\y");
  AppendNetworkLine(path, "");
  AppendNetworkLine(path, "B\\x\\y");
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(ReadNetworkList(path), (std::vector<std::string>{"A\\x\\y", "", "B\\x\\y"}));

  RewriteNetworkList(path, {"B\\x\\y"});
  EXPECT_EQ(testenv::readFile(path), "B\\x\\y\n");
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  RewriteNetworkList(path, {});
  EXPECT_NE(::stat(path.c_str(), &st), 0);

  testenv::writeFile(path, "C\\a\\b\r\nD\\a\\b");
  EXPECT_EQ(ReadNetworkList(path), (std::vector<std::string>{"C\\a\\b", "D\\a\\b"}));
}

TEST(NetworkList, FailuresThrowAndKeepTheOldFile) {
  const std::string folder = testenv::makeDir("data").string() + "/";
  const std::string path = NetworkListPath(folder);
  AppendNetworkLine(path, "A\\x\\y");
  testenv::writeFile(folder + "file", "");
  EXPECT_THROW(AppendNetworkLine(folder + "file/reseau.ini", "B"), std::runtime_error);  // ENOTDIR
  EXPECT_THROW(ReadNetworkList(folder + "file/reseau.ini"), std::runtime_error);
  EXPECT_THROW(RewriteNetworkList(folder + "file/reseau.ini", {"B"}), std::runtime_error);
  EXPECT_THROW(AppendNetworkLine("/dev/full", "B"), std::runtime_error);
  EXPECT_EQ(ReadNetworkList(path), std::vector<std::string>{"A\\x\\y"});
}

// A FIFO planted in the list's place: reading and adding fail at once instead of waiting.
TEST(NetworkList, FifoInItsPlaceIsRefusedWithoutBlocking) {
  const std::string path = NetworkListPath(testenv::makeDir("data").string() + "/");
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  EXPECT_THROW(ReadNetworkList(path), std::runtime_error);
  EXPECT_THROW(AppendNetworkLine(path, "A\\x\\y"), std::runtime_error);
}

}  // namespace
}  // namespace core

#include "platform/inifile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <string>

#include "tests/support/testenv.h"

namespace fs = std::filesystem;
using platform::IniFile;

namespace {

fs::path IniWith(const std::string& bytes) { return testenv::writeFile(testenv::testRoot() / "t.ini", bytes); }

struct ReadCase {
  const char* name;
  const char* file;
  const char* section;
  const char* key;
  const char* expected;  // nullptr: the default "<def>"
};

}  // namespace

TEST(IniFile, ReadRules) {
  const ReadCase cases[] = {
      {"section and key ignore case", "[Form1]\nSmtp_vz=mail\n", "FORM1", "smtp_VZ", "mail"},
      {"blanks around names and value", "  [ Form1 ]  \n  key  =   value  \n", "Form1", "key", "value"},
      {"tab edges trimmed", "[s]\nk=\tv\t\n", "s", "k", "v"},
      {"double quotes stripped once", "[s]\nk=\"\"x\"\"\n", "s", "k", "\"x\""},
      {"single quotes stripped", "[s]\nk='a b'\n", "s", "k", "a b"},
      {"quoted blanks kept", "[s]\nk=\"  a  \"\n", "s", "k", "  a  "},
      {"mismatched quotes kept", "[s]\nk=\"a'\n", "s", "k", "\"a'"},
      {"lone quote kept", "[s]\nk=\"\n", "s", "k", "\""},
      {"equals sign inside value", "[s]\nk=a=b\n", "s", "k", "a=b"},
      {"empty value is present", "[s]\nk=\n", "s", "k", ""},
      {"first duplicate key wins", "[s]\nk=1\nk=2\n", "s", "k", "1"},
      {"first duplicate section wins", "[s]\nk=1\n[t]\n[S]\nk=2\nj=3\n", "s", "k", "1"},
      {"key only in a later duplicate section", "[s]\nk=1\n[S]\nj=3\n", "s", "j", nullptr},
      {"byte-order mark before the first section", "\xEF\xBB\xBF[s]\nk=v\n", "s", "k", "v"},
      {"CRLF lines", "[s]\r\nk=v\r\nj=w\r\n", "s", "j", "w"},
      {"last line without line break", "[s]\nk=v", "s", "k", "v"},
      {"missing section", "[s]\nk=v\n", "t", "k", nullptr},
      {"missing key", "[s]\nk=v\n", "s", "j", nullptr},
      {"key of another section", "[s]\n[t]\nk=v\n", "s", "k", nullptr},
      {"key before any section", "k=v\n[s]\n", "s", "k", nullptr},
      {"comment line is no key", "[s]\n;k=v\n", "s", ";k", nullptr},
      {"line without equals is no key", "[s]\nk\n", "s", "k", nullptr},
      {"UTF-8 value as bytes", "[s]\nk=Fenêtre é\n", "s", "k", "Fenêtre é"},
  };
  for (const ReadCase& c : cases) {
    IniFile ini(IniWith(c.file));
    EXPECT_EQ(ini.ReadString(c.section, c.key, "<def>"), c.expected ? c.expected : "<def>") << c.name;
    EXPECT_EQ(ini.ValueExists(c.section, c.key), c.expected != nullptr) << c.name;
  }
}

TEST(IniFile, MissingFileGivesDefaults) {
  IniFile ini(testenv::testRoot() / "absent.ini");
  EXPECT_EQ(ini.ReadString("s", "k", "d"), "d");
  EXPECT_EQ(ini.ReadInteger("s", "k", 7), 7);
  EXPECT_TRUE(ini.ReadBool("s", "k", true));
  EXPECT_FALSE(ini.SectionExists("s"));
  // A file below a regular file (ENOTDIR) reads the same way.
  testenv::writeFile(testenv::testRoot() / "plain", "x");
  IniFile under(testenv::testRoot() / "plain" / "serie.ini");
  EXPECT_EQ(under.ReadString("s", "k", "d"), "d");
}

TEST(IniFile, IntegersAndBooleans) {
  const struct {
    const char* text;
    int expected;  // with default 42
  } cases[] = {
      {"12", 12},        {" -1 ", -1},        {"+7", 7},    {"0", 0},     {"", 42},
      {"abc", 42},       {"12abc", 42},       {"1.5", 42},  {"-", 42},    {"+-3", 42},
      {"99999999999", 42}, {"\"15\"", 15},   {"- 5", 42},
  };
  for (const auto& c : cases) {
    IniFile ini(IniWith(std::string("[s]\nk=") + c.text + "\n"));
    EXPECT_EQ(ini.ReadInteger("s", "k", 42), c.expected) << c.text;
  }
  IniFile ini(IniWith("[s]\nzero=0\none=1\nminus=-1\nword=oui\n"));
  EXPECT_FALSE(ini.ReadBool("s", "zero", true));
  EXPECT_TRUE(ini.ReadBool("s", "one", false));
  EXPECT_TRUE(ini.ReadBool("s", "minus", false));
  EXPECT_TRUE(ini.ReadBool("s", "word", true));
  EXPECT_FALSE(ini.ReadBool("s", "word", false));
  EXPECT_TRUE(ini.ReadBool("s", "absent", true));
}

TEST(IniFile, WritesInPlaceAppendsAndAddsSections) {
  fs::path path = IniWith("; kept comment\r\n[Form1]\r\nA=1\r\nb=2\r\n\r\n[Other]\r\nx=y\r\n");
  IniFile ini(path);
  EXPECT_TRUE(ini.WriteString("form1", "B", "20"));  // in place, first match
  EXPECT_TRUE(ini.WriteString("Form1", "c", "3"));   // appended after the last key of the section
  EXPECT_TRUE(ini.WriteInteger("New", "n", -1));     // new section at the end
  EXPECT_TRUE(ini.WriteBool("New", "flag", true));
  ASSERT_TRUE(ini.UpdateFile());
  EXPECT_EQ(testenv::readFile(path),
            "; kept comment\n[Form1]\nA=1\nB=20\nc=3\n\n[Other]\nx=y\n[New]\nn=-1\nflag=1\n");
  IniFile again(path);
  EXPECT_EQ(again.ReadString("FORM1", "b", ""), "20");
  EXPECT_EQ(again.ReadInteger("new", "N", 0), -1);
}

TEST(IniFile, DeleteKeyAndEraseSection) {
  fs::path path = IniWith("[L]\nL0=a\nL1=b\nL2=c\n[keep]\nk=v\n[l]\nL5=stale\n");
  IniFile ini(path);
  ini.DeleteKey("L", "l1");
  EXPECT_FALSE(ini.ValueExists("L", "L1"));
  EXPECT_TRUE(ini.ValueExists("L", "L2"));
  ini.EraseSection("l");  // every section of that name: no stale keys come to light afterwards
  EXPECT_FALSE(ini.SectionExists("L"));
  EXPECT_TRUE(ini.WriteString("L", "L0", "new"));
  ASSERT_TRUE(ini.UpdateFile());
  EXPECT_EQ(testenv::readFile(path), "[keep]\nk=v\n[L]\nL0=new\n");
}

TEST(IniFile, ValuesRoundTripUnchanged) {
  const char* values[] = {
      "plain", "", "  leading", "trailing  ", " both ", "\ttab", "\"quoted\"", "'single'",
      "\"half",  "half\"", "a=b", "\"", "''", "mot de passe; é", " \"x\" ",
  };
  fs::path path = testenv::testRoot() / "round.ini";
  {
    IniFile ini(path);
    int i = 0;
    for (const char* v : values) EXPECT_TRUE(ini.WriteString("s", "k" + std::to_string(i++), v)) << v;
    ASSERT_TRUE(ini.UpdateFile());
  }
  IniFile back(path);
  int i = 0;
  for (const char* v : values) EXPECT_EQ(back.ReadString("s", "k" + std::to_string(i++), "<def>"), v) << v;
  // Written files stay plain: quoted only where the value needs it.
  std::string text = testenv::readFile(path);
  EXPECT_NE(text.find("\nk0=plain\n"), std::string::npos);
  EXPECT_NE(text.find("\nk3=\"trailing  \"\n"), std::string::npos);
}

TEST(IniFile, RefusesWhatCannotBeStored) {
  fs::path path = IniWith("[s]\nk=v\n");
  IniFile ini(path);
  EXPECT_FALSE(ini.WriteString("s", "k", "a\nb=c"));
  EXPECT_FALSE(ini.WriteString("s", "k", "a\rb"));
  EXPECT_FALSE(ini.WriteString("s", "a=b", "v"));
  EXPECT_FALSE(ini.WriteString("s", "", "v"));
  EXPECT_FALSE(ini.WriteString("s", " k", "v"));
  EXPECT_FALSE(ini.WriteString("s", "[k", "v"));
  EXPECT_FALSE(ini.WriteString("s]x", "k", "v"));
  EXPECT_FALSE(ini.WriteString("", "k", "v"));
  EXPECT_EQ(ini.ReadString("s", "k", ""), "v");
  ASSERT_TRUE(ini.UpdateFile());
  EXPECT_EQ(testenv::readFile(path), "[s]\nk=v\n");
}

TEST(IniFile, AtomicWriteWithMode) {
  fs::path path = testenv::testRoot() / "serie.ini";
  umask(022);
  IniFile ini(path, 0600);
  ini.WriteString("Form1", "mot_de_passe", "secret");
  ASSERT_TRUE(ini.UpdateFile());
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  // An existing file with a wider mode is narrowed on the next write.
  chmod(path.c_str(), 0644);
  IniFile again(path, 0600);
  again.WriteString("Form1", "user_name", "moi");
  ASSERT_TRUE(again.UpdateFile());
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  // No temp file is left beside it.
  int entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(testenv::testRoot())) ++entries;
  EXPECT_EQ(entries, 5);  // home, data, runtime, tmp, serie.ini
}

TEST(IniFile, FailedWritesReportAndKeepWhatWasThere) {
  // The folder is a regular file: the write fails with ENOTDIR.
  testenv::writeFile(testenv::testRoot() / "plain", "x");
  IniFile under(testenv::testRoot() / "plain" / "serie.ini");
  under.WriteString("s", "k", "v");
  EXPECT_FALSE(under.UpdateFile());
  EXPECT_EQ(testenv::readFile(testenv::testRoot() / "plain"), "x");

  // Something that cannot be read as a file is never replaced.
  fs::path dir = testenv::makeDir("taken.ini");
  testenv::writeFile(dir / "inside", "y");
  IniFile onDir(dir);
  onDir.WriteString("s", "k", "v");
  EXPECT_FALSE(onDir.UpdateFile());
  EXPECT_EQ(testenv::readFile(dir / "inside"), "y");

  fs::path fifo = testenv::testRoot() / "fifo.ini";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  IniFile onFifo(fifo);  // does not block
  onFifo.WriteString("s", "k", "v");
  EXPECT_FALSE(onFifo.UpdateFile());
  EXPECT_TRUE(fs::is_fifo(fifo));
}

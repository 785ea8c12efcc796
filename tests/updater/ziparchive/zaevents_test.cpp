#include <gtest/gtest.h>

#include <deque>
#include <filesystem>

#include "tests/support/testenv.h"
#include "tests/updater/ziparchive/ziptestkit.h"
#include "updater/ziparchive/zaarchiver.h"

using namespace ziparchive;

namespace {

// Answers from a script and records every question.
class ScriptedPrompter : public Prompter {
 public:
  std::deque<TZAButton> answers;
  std::deque<std::pair<bool, std::string>> inputs;  // OK?, typed text
  std::vector<std::string> texts;
  std::vector<std::vector<TZAButton>> buttons;
  std::vector<std::string> captions, prompts, startValues;

  TZAButton Confirm(const std::string& text, const std::vector<TZAButton>& b) override {
    texts.push_back(text);
    buttons.push_back(b);
    if (answers.empty()) return TZAButton::Closed;
    TZAButton a = answers.front();
    answers.pop_front();
    return a;
  }
  bool InputBox(const std::string& caption, const std::string& prompt, std::string& value) override {
    captions.push_back(caption);
    prompts.push_back(prompt);
    startValues.push_back(value);
    if (inputs.empty()) return false;
    auto [ok, text] = inputs.front();
    inputs.pop_front();
    if (ok) value = text;
    return ok;
  }
};

struct Fixture : ::testing::Test {
  TZipArchiver zip;
  ScriptedPrompter prompter;
  void SetUp() override { zip.SetPrompter(&prompter); }
};

using Events = Fixture;

}  // namespace

TEST_F(Events, ProgressDefaultsAndPassThrough) {
  bool cancel = true;
  zip.DoOverallProgress(10, poExtract, ppProcess, cancel);
  EXPECT_FALSE(cancel);
  cancel = true;
  zip.DoFileProgress("a/b", 10, poExtract, ppProcess, cancel);
  EXPECT_FALSE(cancel);
  cancel = true;
  zip.DoCopyTempFileProgress(10, ppProcess, cancel);
  EXPECT_FALSE(cancel);

  std::string seenName;
  bool seenCancel = false;
  zip.OnFileProgress = [&](TZABaseArchiver* s, const std::string& name, double p, TZAProcessOperation op,
                           TZAProgressPhase ph, bool& c) {
    EXPECT_EQ(s, &zip);
    EXPECT_EQ(p, 42);
    EXPECT_EQ(op, poTest);
    EXPECT_EQ(ph, ppEnd);
    seenName = name;
    c = true;
  };
  zip.OnOverallProgress = [&](TZABaseArchiver*, double, TZAProcessOperation, TZAProgressPhase, bool& c) {
    seenCancel = c;  // the caller's value arrives as it is
  };
  zip.OnCopyTempFileProgress = [&](TZABaseArchiver*, double, TZAProgressPhase, bool& c) { seenCancel = c; };
  cancel = false;
  zip.DoFileProgress("dir/sub/file.txt", 42, poTest, ppEnd, cancel);
  EXPECT_EQ(seenName, "dir\\sub\\file.txt");
  EXPECT_TRUE(cancel);
  cancel = true;
  zip.DoOverallProgress(0, poExtract, ppStart, cancel);
  EXPECT_TRUE(seenCancel);
  zip.DoCopyTempFileProgress(0, ppStart, cancel);
  EXPECT_FALSE(seenCancel);  // reset before the handler
  EXPECT_TRUE(prompter.texts.empty());
}

TEST_F(Events, ConfirmProcessFileStartsTrue) {
  bool confirm = false;
  zip.DoConfirmProcessFile("a", poExtract, confirm);
  EXPECT_TRUE(confirm);
  zip.OnConfirmProcessFile = [](TZABaseArchiver*, const std::string&, TZAProcessOperation, bool& c) {
    EXPECT_TRUE(c);
    c = false;
  };
  zip.DoConfirmProcessFile("a", poExtract, confirm);
  EXPECT_FALSE(confirm);
}

TEST_F(Events, OverwriteDialogAnswersAndLastingToAllChoices) {
  struct Case {
    TZAButton answer;
    bool confirm;
    TZAOverwriteMode mode;
  } cases[] = {{TZAButton::Yes, true, omPrompt},      {TZAButton::No, false, omPrompt},
               {TZAButton::YesToAll, true, omAlways}, {TZAButton::NoToAll, false, omNever},
               {TZAButton::Closed, false, omPrompt}};
  for (const auto& c : cases) {
    zip.Options.OverwriteMode = omPrompt;
    prompter.answers = {c.answer};
    std::string dest = "/out/a.txt";
    bool confirm = !c.confirm;
    zip.DoConfirmOverwrite("dir\\a.txt", dest, confirm);
    EXPECT_EQ(confirm, c.confirm);
    EXPECT_EQ(zip.Options.OverwriteMode, c.mode);
  }
  ASSERT_EQ(prompter.texts.size(), 5u);
  EXPECT_EQ(prompter.texts[0], "Overwrite file \"/out/a.txt\" with \"dir\\a.txt\"");
  EXPECT_EQ(prompter.buttons[0], (std::vector<TZAButton>{TZAButton::Yes, TZAButton::No, TZAButton::NoToAll,
                                                         TZAButton::YesToAll}));

  zip.OnConfirmOverwrite = [](TZABaseArchiver*, const std::string& src, std::string& dest, bool& c) {
    dest = "/elsewhere/" + src;
    c = true;
  };
  std::string dest = "/out/a.txt";
  bool confirm = false;
  zip.DoConfirmOverwrite("a.txt", dest, confirm);
  EXPECT_TRUE(confirm);
  EXPECT_EQ(dest, "/elsewhere/a.txt");
  EXPECT_EQ(prompter.texts.size(), 5u);
}

TEST_F(Events, PasswordBoxAndHandlers) {
  prompter.inputs = {{true, "secret"}, {false, "ignored"}};
  std::string password = "old";
  bool skip = true;
  zip.DoPassword("dir/a.txt", password, skip);
  EXPECT_EQ(password, "secret");
  EXPECT_FALSE(skip);
  zip.DoPassword("dir/a.txt", password, skip);
  EXPECT_EQ(password, "secret");
  EXPECT_TRUE(skip);
  EXPECT_EQ(prompter.captions[0], "Password for \"dir/a.txt\"");
  EXPECT_EQ(prompter.prompts[0], "Enter password: ");
  EXPECT_EQ(prompter.startValues[0], "old");

  struct Case {
    const char* returned;
    bool setsSkip;
    bool skip;
  } cases[] = {
      {"new", false, false},
      {"old", false, true},  // the same password again would be retried for ever: counts as skip
      {"new", true, true},
      {"old", true, true},
  };
  for (const auto& c : cases) {
    zip.OnPassword = [&](TZABaseArchiver*, const std::string& name, std::string& p, bool& s) {
      EXPECT_EQ(name, "a");
      p = c.returned;
      if (c.setsSkip) s = true;
    };
    std::string p = "old";
    bool s = false;
    zip.DoPassword("a", p, s);
    EXPECT_EQ(s, c.skip) << c.returned << " " << c.setsSkip;
    EXPECT_EQ(p, c.returned);
  }
  EXPECT_EQ(prompter.captions.size(), 2u);
}

TEST_F(Events, FailureDialogAndHandler) {
  struct Case {
    TZAButton answer;
    TZAAction action;
  } cases[] = {{TZAButton::Retry, fxaRetry}, {TZAButton::Ignore, fxaIgnore}, {TZAButton::Abort, fxaAbort},
               {TZAButton::Closed, fxaAbort}};
  for (const auto& c : cases) {
    prompter.answers = {c.answer};
    TZAAction action = fxaRetry;
    zip.DoProcessFileFailure("a", poExtract, 19, 9, "Cannot create file \"a\" - Native error: 00019", action);
    EXPECT_EQ(action, c.action);
  }
  EXPECT_EQ(prompter.texts[0],
            "Cannot create file \"a\" - Native error: 00019. File processing error, possibly disk is full");
  EXPECT_EQ(prompter.buttons[0], (std::vector<TZAButton>{TZAButton::Abort, TZAButton::Retry, TZAButton::Ignore}));

  zip.OnProcessFileFailure = [](TZABaseArchiver*, const std::string& name, TZAProcessOperation op, int32_t native,
                                int32_t code, const std::string& message, TZAAction& a) {
    EXPECT_EQ(name, "a");
    EXPECT_EQ(op, poTest);
    EXPECT_EQ(native, 8);
    EXPECT_EQ(code, 4);
    EXPECT_EQ(message, "m");
    EXPECT_EQ(a, fxaIgnore);  // preset; left unchanged the batch goes on
  };
  TZAAction action = fxaAbort;
  zip.DoProcessFileFailure("a", poTest, 8, 4, "m", action);
  EXPECT_EQ(action, fxaIgnore);
  EXPECT_EQ(prompter.texts.size(), 4u);
}

TEST_F(Events, VolumeRequestsWhenSpanning) {
  auto root = testenv::testRoot();
  zip.FileName = (root / "arc.zip").string();
  zip.SetSpanningMode(smSpanning);
  std::string name = zip.FileName;
  bool cancel = true;
  prompter.answers = {TZAButton::Ok};
  zip.DoRequestBlankVolume(2, name, cancel);
  EXPECT_FALSE(cancel);
  EXPECT_EQ(prompter.texts.back(), "Please insert a blank disk #3");
  EXPECT_EQ(prompter.buttons.back(), (std::vector<TZAButton>{TZAButton::Ok, TZAButton::Cancel}));
  name = zip.FileName;
  zip.DoRequestBlankVolume(-5, name, cancel);  // closed: cancel; a negative number counts as 0
  EXPECT_TRUE(cancel);
  EXPECT_EQ(prompter.texts.back(), "Please insert a blank disk #1");

  name = zip.FileName;
  prompter.answers = {TZAButton::Ok};
  zip.DoRequestFirstVolume(name, cancel);
  EXPECT_FALSE(cancel);
  EXPECT_EQ(prompter.texts.back(), "Please insert the first disk");

  name = zip.FileName;
  prompter.answers = {TZAButton::Ok};
  zip.DoRequestMiddleVolume(1, name, cancel);
  EXPECT_FALSE(cancel);
  EXPECT_EQ(prompter.texts.back(), "Please insert disk #2");

  // The last disk is asked for until its file is there or the box is cancelled.
  name = zip.FileName;
  prompter.texts.clear();
  prompter.answers = {TZAButton::Ok, TZAButton::Ok, TZAButton::Cancel};
  zip.DoRequestLastVolume(name, cancel);
  EXPECT_TRUE(cancel);
  ASSERT_EQ(prompter.texts.size(), 3u);
  EXPECT_EQ(prompter.texts[0], "Please insert the last disk");
  EXPECT_EQ(prompter.texts[1], "File '" + zip.FileName +
                                   "' not found on inserted disk. Please insert last disk with required file");
  testenv::writeFile(zip.FileName, "x");
  prompter.texts.clear();
  prompter.answers = {TZAButton::Ok};
  zip.DoRequestLastVolume(name, cancel);
  EXPECT_FALSE(cancel);
  EXPECT_EQ(prompter.texts.size(), 1u);

  prompter.answers = {TZAButton::Ok};
  zip.SpanningOptions.VolumeSize = vs4700MB;
  zip.DoDiskFull(0, zip.FileName, cancel);
  EXPECT_FALSE(cancel);
  const std::string& full = prompter.texts.back();
  EXPECT_EQ(full.rfind("Disk is full. Required free space: 4928307200 bytes, but available only: ", 0), 0u) << full;
  zip.DoDiskFull(0, zip.FileName, cancel);
  EXPECT_TRUE(cancel);
  // Without a size limit a new volume needs more than 65536 free bytes, never "-1".
  zip.SpanningOptions.VolumeSize = vsAutoDetect;
  zip.DoDiskFull(0, zip.FileName, cancel);
  EXPECT_EQ(prompter.texts.back().rfind("Disk is full. Required free space: 65537 bytes, but available only: ", 0), 0u);
}

TEST_F(Events, VolumeRequestsWithoutSpanningCheckFiles) {
  auto root = testenv::testRoot();
  zip.FileName = (root / "arc.zip").string();
  zip.SetSpanningMode(smSplitting);
  zip.SpanningOptions.AdvancedNaming = false;
  bool cancel = true;
  std::string name = zip.FileName;
  zip.DoRequestBlankVolume(0, name, cancel);
  EXPECT_FALSE(cancel);
  // The suffix follows the case of the archive's extension.
  EXPECT_EQ(name, (root / "arc.z01").string());

  // A missing middle volume: no dialog, the request is cancelled.
  name = zip.FileName;
  zip.DoRequestMiddleVolume(3, name, cancel);
  EXPECT_TRUE(cancel);
  // A part written in capitals by another tool is found too.
  testenv::writeFile(root / "arc.Z04", "");
  name = zip.FileName;
  zip.DoRequestMiddleVolume(3, name, cancel);
  EXPECT_FALSE(cancel);
  EXPECT_EQ(name, (root / "arc.Z04").string());

  name = zip.FileName;
  zip.DoRequestLastVolume(name, cancel);
  EXPECT_TRUE(cancel);  // arc.zip is missing
  name = zip.FileName;
  zip.DoRequestFirstVolume(name, cancel);
  EXPECT_TRUE(cancel);
  zip.FFileOpenMode = kCreateArchiveMode;  // while creating, a missing first volume is expected
  name = zip.FileName;
  zip.DoRequestFirstVolume(name, cancel);
  EXPECT_FALSE(cancel);

  zip.DoDiskFull(0, zip.FileName, cancel);
  EXPECT_TRUE(cancel);
  EXPECT_TRUE(prompter.texts.empty());
}

TEST_F(Events, VolumeHandlersGetNumbersFromOne) {
  zip.FileName = "/media/arc.zip";
  zip.SetSpanningMode(smSplitting);
  std::vector<int> numbers;
  std::vector<std::string> names;
  zip.OnRequestBlankVolume = [&](TZABaseArchiver*, int32_t n, std::string& name, bool& c) {
    numbers.push_back(n);
    names.push_back(name);
    c = true;
  };
  zip.OnRequestMiddleVolume = zip.OnRequestBlankVolume;
  zip.OnDiskFull = [&](TZABaseArchiver*, int32_t n, const std::string&, bool& c) {
    numbers.push_back(n);
    c = true;
  };
  bool cancel = false;
  std::string name = zip.FileName;
  zip.DoRequestBlankVolume(0, name, cancel);
  EXPECT_TRUE(cancel);
  name = zip.FileName;
  zip.DoRequestMiddleVolume(4, name, cancel);
  zip.DoDiskFull(6, zip.FileName, cancel);
  EXPECT_EQ(numbers, (std::vector<int>{1, 5, 7}));
  EXPECT_EQ(names, (std::vector<std::string>{"/media/arc_001.zip", "/media/arc_005.zip"}));
  EXPECT_TRUE(prompter.texts.empty());
}

TEST_F(Events, ExtractAndStoreNamesChangeForm) {
  std::string name = "dir/sub/a.txt";
  uint32_t attr = 0x20;
  zip.DoExtractFile(name, attr, "c");
  EXPECT_EQ(name, "dir\\sub\\a.txt");  // also without a handler
  std::string stored = "dir/b.txt";
  std::string comment = "c";
  zip.DoStoreFile(stored, attr, comment, "/disk/dir/b.txt");
  EXPECT_EQ(stored, "dir/b.txt");

  zip.OnExtractFile = [](TZABaseArchiver*, std::string& n, uint32_t& a, const std::string& c) {
    EXPECT_EQ(c, "note");
    n = "renamed\\" + n;
    a = 0x01;
  };
  name = "x/y";
  zip.DoExtractFile(name, attr, "note");
  EXPECT_EQ(name, "renamed\\x\\y");
  EXPECT_EQ(attr, 0x01u);
  zip.OnStoreFile = [](TZABaseArchiver*, std::string& n, uint32_t&, std::string& c, const std::string& original) {
    EXPECT_EQ(n, "dir\\b.txt");
    EXPECT_EQ(original, "/disk/dir/b.txt");
    n += "\\new";
    c = "changed";
  };
  zip.DoStoreFile(stored, attr, comment, "/disk/dir/b.txt");
  EXPECT_EQ(stored, "dir/b.txt/new");
  EXPECT_EQ(comment, "changed");
}

TEST(EventsHeadless, NoPrompterNoHandlerNeverLoopsAndNeverGoesOn) {
  TZipArchiver zip;  // the headless prompter: every box closed
  zip.FileName = (testenv::testRoot() / "arc.zip").string();
  zip.SetSpanningMode(smSpanning);
  std::string name = zip.FileName;
  bool cancel = false;
  zip.DoRequestLastVolume(name, cancel);
  EXPECT_TRUE(cancel);
  name = zip.FileName;
  cancel = false;
  zip.DoRequestBlankVolume(0, name, cancel);
  EXPECT_TRUE(cancel);
  cancel = false;
  zip.DoDiskFull(0, zip.FileName, cancel);
  EXPECT_TRUE(cancel);
  TZAAction action = fxaIgnore;
  zip.DoProcessFileFailure("a", poExtract, 8, 4, "m", action);
  EXPECT_EQ(action, fxaAbort);
  std::string password = "p";
  bool skip = false;
  zip.DoPassword("a", password, skip);
  EXPECT_TRUE(skip);
  std::string dest = "d";
  bool confirm = true;
  zip.Options.OverwriteMode = omPrompt;
  zip.DoConfirmOverwrite("s", dest, confirm);
  EXPECT_FALSE(confirm);
  EXPECT_EQ(zip.Options.OverwriteMode, omPrompt);
}

namespace {

// Three entries over three existing files, overwritten only when asked.
struct BatchDialogs : Fixture {
  std::filesystem::path out;
  void SetUp() override {
    Fixture::SetUp();
    auto root = testenv::testRoot();
    auto archive = ziptestkit::MakeZip(root / "a.zip", {{"a.txt", "new a"}, {"d/b.txt", "new b"}, {"c.txt", "new c"}});
    out = testenv::makeDir("out");
    zip.FileName = archive.string();
    zip.OpenArchiveMode(0x20);
    zip.BaseDir = out.string();
    zip.Options.OverwriteMode = omPrompt;
    writeOld();
  }
  void writeOld() {
    for (const char* name : {"a.txt", "d/b.txt", "c.txt"}) testenv::writeFile(out / name, "old");
  }
  std::vector<std::string> contents() {
    return {testenv::readFile(out / "a.txt"), testenv::readFile(out / "d/b.txt"), testenv::readFile(out / "c.txt")};
  }
};

}  // namespace

TEST_F(BatchDialogs, NoToAllSkipsEveryLaterTargetWithoutAskingAgain) {
  prompter.answers = {TZAButton::NoToAll};
  zip.ExtractFiles("*.*", 0x28BF, "");
  EXPECT_EQ(prompter.texts.size(), 1u);
  EXPECT_EQ(contents(), (std::vector<std::string>{"old", "old", "old"}));
  zip.ExtractFiles("*.*", 0x28BF, "");  // the answer lasts into later batches
  EXPECT_EQ(prompter.texts.size(), 1u);
  EXPECT_EQ(contents(), (std::vector<std::string>{"old", "old", "old"}));
}

TEST_F(BatchDialogs, YesToAllOverwritesEveryLaterTargetWithoutAskingAgain) {
  prompter.answers = {TZAButton::YesToAll};
  zip.ExtractFiles("*.*", 0x28BF, "");
  EXPECT_EQ(prompter.texts.size(), 1u);
  EXPECT_EQ(prompter.texts[0], "Overwrite file \"" + (out / "a.txt").string() + "\" with \"a.txt\"");
  EXPECT_EQ(contents(), (std::vector<std::string>{"new a", "new b", "new c"}));
  writeOld();
  zip.ExtractFiles("*.*", 0x28BF, "");
  EXPECT_EQ(prompter.texts.size(), 1u);
  EXPECT_EQ(contents(), (std::vector<std::string>{"new a", "new b", "new c"}));
}

TEST_F(BatchDialogs, FailureBoxDecidesWhetherTheBatchGoesOn) {
  // Every target is a folder, so no file can be created: each entry fails with code 19.
  for (const char* name : {"a.txt", "d/b.txt", "c.txt"}) {
    std::filesystem::remove(out / name);
    std::filesystem::create_directories(out / name / "x");
  }
  zip.Options.OverwriteMode = omAlways;
  struct Case {
    std::deque<TZAButton> answers;
    size_t boxes;
  } cases[] = {
      {{}, 1},                                            // closed: abort
      {{TZAButton::Abort}, 1},
      {{TZAButton::Ignore, TZAButton::Ignore, TZAButton::Ignore}, 3},
      {{TZAButton::Retry, TZAButton::Abort}, 2},          // the same entry again, then stop
  };
  for (const auto& c : cases) {
    prompter.texts.clear();
    prompter.answers = c.answers;
    zip.ExtractFiles("*.*", 0x28BF, "");
    EXPECT_EQ(prompter.texts.size(), c.boxes);
    for (const auto& text : prompter.texts) {
      EXPECT_NE(text.find("File processing error, possibly disk is full"), std::string::npos) << text;
    }
  }
}

#include "scheduler/core/alerts.h"
#include "scheduler/core/alertmail.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace core {
namespace {

struct Recorder : AlertSound, AlertWindow, AlertMailer {
  std::vector<std::string> calls;
  bool playable = true;
  bool PlayFile(const std::string& path) override {
    calls.push_back("play " + path);
    return playable;
  }
  void Beep() override { calls.push_back("beep"); }
  void Tone(int hz, int ms) override { calls.push_back("tone " + std::to_string(hz) + " " + std::to_string(ms)); }
  void PlayFailed() override { calls.push_back("sound box"); }
  void ShowMainWindow() override { calls.push_back("show"); }
  void SendAlert(const std::string& text) override { calls.push_back("mail " + text); }
};

using Calls = std::vector<std::string>;

TEST(AlertRule, EachSettingRaisesItsAlertInOrder) {
  struct Case {
    AlertSettings settings;
    bool playable;
    Calls expected;
  } cases[] = {
      {{false, false, false, ""}, true, {}},
      {{true, true, true, ""}, true, {"beep", "tone 100 500", "show", "mail Cible non présente /t"}},
      {{true, false, false, "/a.wav"}, true, {"play /a.wav"}},
      {{true, false, true, "/bad.wav"}, false, {"play /bad.wav", "sound box", "mail Cible non présente /t"}},
      {{false, true, false, "/a.wav"}, true, {"show"}},
  };
  for (const Case& c : cases) {
    Recorder r;
    r.playable = c.playable;
    AlertRule(r, r, r).Raise(c.settings, "Cible non présente /t");
    EXPECT_EQ(r.calls, c.expected);
  }
}

TEST(AlertRule, AnExceptionNeitherSoundsNorShowsTheWindow) {
  Recorder r;
  AlertRule rule(r, r, r);
  rule.RaiseForException({true, true, true, ""}, "boom /s /t");
  EXPECT_EQ(r.calls, Calls{"mail boom /s /t"});
  r.calls.clear();
  rule.RaiseForException({true, true, false, ""}, "boom");
  EXPECT_TRUE(r.calls.empty());
}

TEST(AlertMail, RequiredFields) {
  EXPECT_FALSE(MailFieldsMissing({"smtp", "a@b", "c@d", "sujet"}));
  EXPECT_TRUE(MailFieldsMissing({"", "a@b", "c@d", "sujet"}));
  EXPECT_TRUE(MailFieldsMissing({"smtp", "a@b", "c@d", ""}));
  EXPECT_EQ(MissingMailFieldsText(),
            "Vous devez indiquer les renseignements suivant :\r\rVotre SMTP\rVotre E-mail\r"
            "L'e-mail du destinataire\rLe sujet de l'E-mail\r\rOu décochez l'option \"Envoyer E-mail\" ");
}

TEST(AlertMail, ServerSettingMayCarryAPort) {
  struct {
    const char* text;
    const char* host;
    int port;
    bool implicitTls;
  } cases[] = {
      {"smtp.example.org", "smtp.example.org", 25, false},
      {" smtp.example.org:2525 ", "smtp.example.org", 2525, false},
      {"smtp.example.org:465", "smtp.example.org", 465, true},
      {"smtp.example.org:587", "smtp.example.org", 587, false},
      {"[::1]:2525", "::1", 2525, false},
      {"[::1]", "::1", 25, false},
      {"::1", "::1", 25, false},
      {"host:", "host:", 25, false},
      {"host:abc", "host:abc", 25, false},
      {"host:70000", "host:70000", 25, false},
      {":25", ":25", 25, false},
  };
  for (const auto& c : cases) {
    const SmtpServerAddress a = ParseSmtpServer(c.text);
    EXPECT_EQ(a.host, c.host) << c.text;
    EXPECT_EQ(a.port, c.port) << c.text;
    EXPECT_EQ(a.implicitTls, c.implicitTls) << c.text;
  }
}

TEST(AlertMail, BodyLines) {
  const Calls fixed{" ", "Quillomet vous informe !", "Une erreur est survenue lors de votre sauvegarde.", " "};
  Calls expected = fixed;
  expected.insert(expected.end(), {"Erreur : . ", "Date et heure : 10/12/2026 09:45", " "});
  EXPECT_EQ(AlertMailBody("", "10/12/2026 09:45", {}), expected);
  expected = fixed;
  expected.insert(expected.end(), {"Erreur : Source non présente /s. ", "Date et heure : d", " ", "ligne 1", ""});
  EXPECT_EQ(AlertMailBody("Source non présente /s", "d", {"ligne 1", ""}), expected);
}

TEST(AlertMail, HeadersStayOnOneLine) {
  const std::string text = ComposeMail({"smtp", "a@b", "c@d", "Alerte\r\nBcc: x@y"}, {"é"}, "Thu, 10 Dec 2026 09:45:00 +0000");
  EXPECT_NE(text.find("Subject: Alerte  Bcc: x@y\r\n"), std::string::npos);
  EXPECT_EQ(text.find("\r\nBcc:"), std::string::npos);
  EXPECT_NE(ComposeMail({"s", "a", "b", "Échec"}, {}, "d").find("Subject: =?UTF-8?B?w4ljaGVj?="), std::string::npos);
}

}  // namespace
}  // namespace core

#include "scheduler/core/wave.h"
#include "tests/support/testenv.h"

namespace core {
namespace {

TEST(Wave, ToneIsAWaveFileOfTheRightLength) {
  const std::string tone = ToneWave(100, 500, 8000);
  EXPECT_EQ(tone.size(), 44u + 8000);
  const auto path = testenv::writeFile(testenv::testRoot() / "tone.wav", tone);
  EXPECT_TRUE(IsWaveFile(path.string()));
  EXPECT_FALSE(IsWaveFile(testenv::writeFile(testenv::testRoot() / "text.wav", "RIFF....TEXT").string()));
  EXPECT_FALSE(IsWaveFile((testenv::testRoot() / "missing.wav").string()));
  EXPECT_FALSE(IsWaveFile(testenv::testRoot().string()));
}

}  // namespace
}  // namespace core

// Alerts: sound, window and e-mail.
#include <QApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QSoundEffect>
#include <QTemporaryFile>
#include <QUrl>

#include <stdexcept>

#include "platform/smtp.h"
#include "scheduler/core/alertmail.h"
#include "scheduler/core/alerts.h"
#include "scheduler/core/wave.h"
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"

namespace ui {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// The sounds through Qt Multimedia; the tone is a generated WAV file kept for the session.
class FormSound : public core::AlertSound {
 public:
  explicit FormSound(QWidget* parent) : parent_(parent), effect_(parent), tone_(parent) {}
  // Nothing left playing from a file about to go (the tone's temporary file goes first).
  ~FormSound() override {
    effect_.stop();
    tone_.stop();
  }

  bool PlayFile(const std::string& path) override {
    if (!core::IsWaveFile(path)) return false;
    effect_.setSource(QUrl::fromLocalFile(Q(path)));
    effect_.play();
    return true;
  }
  void Beep() override { QApplication::beep(); }
  void Tone(int hertz, int milliseconds) override {
    if (!toneFile_) {
      toneFile_ = std::make_unique<QTemporaryFile>();
      const std::string wave = core::ToneWave(hertz, milliseconds);
      if (!toneFile_->open() || toneFile_->write(wave.data(), static_cast<qint64>(wave.size())) !=
                                    static_cast<qint64>(wave.size()) || !toneFile_->flush())
        return;
      tone_.setSource(QUrl::fromLocalFile(toneFile_->fileName()));
    }
    tone_.play();
  }
  void PlayFailed() override {
    QMessageBox::warning(parent_, QStringLiteral("Quillomet"),
                         QStringLiteral("Il y a un problème avec le son wav ! Peux être le chemin indiqué n'est pas le bon..."));
  }

 private:
  QWidget* parent_;
  QSoundEffect effect_;
  QSoundEffect tone_;
  std::unique_ptr<QTemporaryFile> toneFile_;
};

struct FormAlertParts : core::AlertWindow, core::AlertMailer {
  explicit FormAlertParts(TForm1& f) : f(f) {}
  // Restored and raised, not only shown: a minimised window would stay out of sight.
  void ShowMainWindow() override { f.RxTrayIcon1Click(); }
  void SendAlert(const std::string& text) override {
    f.Edit20->setText(Q(text));
    f.Button34Click();
  }
  TForm1& f;
};

core::AlertSettings SettingsOf(const TForm1& f) {
  return {f.CheckBox_13->isChecked(), f.CheckBox_14->isChecked(), f.CheckBox_16->isChecked(), S(f.on_equeued->text())};
}

}  // namespace

void TForm1::connectAlerts() {
  Sound = std::make_unique<FormSound>(this);
  bind(SpeedButton16, &QAbstractButton::clicked, &TForm1::SpeedButton16Click);
  bind(SpeedButton17, &QAbstractButton::clicked, &TForm1::SpeedButton17Click);
  bind(SpeedButton18, &QAbstractButton::clicked, &TForm1::SpeedButton18Click);
  bind(Button34, &QAbstractButton::clicked, &TForm1::Button34Click);
}

void TForm1::RaiseAlerts(const std::string& errorText) {
  FormAlertParts parts(*this);
  core::AlertRule(*Sound, parts, parts).Raise(SettingsOf(*this), errorText);
}

void TForm1::RaiseExceptionAlert(const std::string& errorText) {
  FormAlertParts parts(*this);
  core::AlertRule(*Sound, parts, parts).RaiseForException(SettingsOf(*this), errorText);
}

void TForm1::SpeedButton16Click() {
  const QString current = on_equeued->text();
  const QString folder = current.isEmpty() ? QString() : QFileInfo(current).absolutePath();
  const QString file = QFileDialog::getOpenFileName(this, QString(), folder, QStringLiteral("wav (*.wav)"));
  if (!file.isEmpty()) on_equeued->setText(file);
}

void TForm1::SpeedButton17Click() {
  if (on_equeued->text().isEmpty()) return;
  if (!Sound->PlayFile(S(on_equeued->text()))) Sound->PlayFailed();
}

void TForm1::SpeedButton18Click() {
  Sound->Beep();
  Sound->Tone(100, 500);
}

void TForm1::Button34Click() {
  const core::AlertMailFields fields{S(Smtp_vz->text()), S(Email_v->text()), S(Email_D->text()), S(Sujet_vz->text())};
  if (core::MailFieldsMissing(fields)) {
    QMessageBox::warning(this, QStringLiteral("Quillomet"), Q(core::MissingMailFieldsText()).replace(QChar(13), QChar(10)));
    return;
  }
  const QDateTime now = QDateTime::currentDateTime();
  const std::string dateTime = S(QLocale::system().toString(now, QLocale::ShortFormat));
  std::vector<std::string> lines;
  if (!Message_vz->toPlainText().isEmpty())
    for (const QString& line : Message_vz->toPlainText().split(QChar(10))) lines.push_back(S(line));
  platform::SmtpRequest request;
  const core::SmtpServerAddress server = core::ParseSmtpServer(fields.smtp);
  request.host = server.host;
  request.port = server.port;
  request.implicitTls = server.implicitTls;
  request.caFile = SmtpCaFile;
  request.from = fields.from;
  request.to = fields.to;
  request.login = S(user_name->text());
  request.password = S(mot_de_passe->text());
  request.message = core::ComposeMail(fields, core::AlertMailBody(S(Edit20->text()), dateTime, lines),
                                      core::MailDate(now.toSecsSinceEpoch()));
  const platform::SmtpResult result = platform::SendMail(request);
  if (result.outcome == platform::SmtpOutcome::NotConnected) return;
  if (result.outcome == platform::SmtpOutcome::Failed)
    throw std::runtime_error("Erreur lors de l'envoi de l'E-mail : " + result.error);
  Edit20->clear();
}

}  // namespace ui

#pragma once
// The alert rule of a failed backup: a sound, the main window shown, an e-mail; each one
// switched on by its own setting. Its collaborators are injected.
#include <string>

namespace core {

struct AlertSettings {
  bool sound = false;   // CheckBox_13
  bool window = false;  // CheckBox_14
  bool mail = false;    // CheckBox_16
  std::string soundFile;  // on_equeued; empty = the beep
};

class AlertSound {
 public:
  virtual ~AlertSound() = default;
  // Starts playing the file without waiting; false when it cannot be played.
  virtual bool PlayFile(const std::string& path) = 0;
  virtual void Beep() = 0;
  virtual void Tone(int hertz, int milliseconds) = 0;
  // "Il y a un problème avec le son wav ! ..."
  virtual void PlayFailed() = 0;
};

class AlertWindow {
 public:
  virtual ~AlertWindow() = default;
  virtual void ShowMainWindow() = 0;
};

class AlertMailer {
 public:
  virtual ~AlertMailer() = default;
  // Puts the error text where the mail takes it (Edit20) and sends the alert mail.
  virtual void SendAlert(const std::string& errorText) = 0;
};

// The beep file or the beep and its 100 Hz tone.
void PlayAlertSound(const std::string& soundFile, AlertSound& sound);

class AlertRule {
 public:
  AlertRule(AlertSound& sound, AlertWindow& window, AlertMailer& mailer)
      : sound_(sound), window_(window), mailer_(mailer) {}

  // A missing source or target, an unreachable computer: sound, window, e-mail.
  void Raise(const AlertSettings& settings, const std::string& errorText);
  // An error that reached the application-wide handler: the e-mail only.
  void RaiseForException(const AlertSettings& settings, const std::string& errorText);

 private:
  AlertSound& sound_;
  AlertWindow& window_;
  AlertMailer& mailer_;
};

}  // namespace core

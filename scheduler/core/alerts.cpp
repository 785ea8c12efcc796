#include "scheduler/core/alerts.h"

namespace core {

void PlayAlertSound(const std::string& soundFile, AlertSound& sound) {
  if (!soundFile.empty()) {
    if (!sound.PlayFile(soundFile)) sound.PlayFailed();
    return;
  }
  sound.Beep();
  sound.Tone(100, 500);
}

void AlertRule::Raise(const AlertSettings& settings, const std::string& errorText) {
  if (settings.sound) PlayAlertSound(settings.soundFile, sound_);
  if (settings.window) window_.ShowMainWindow();
  if (settings.mail) mailer_.SendAlert(errorText);
}

void AlertRule::RaiseForException(const AlertSettings& settings, const std::string& errorText) {
  if (settings.mail) mailer_.SendAlert(errorText);
}

}  // namespace core

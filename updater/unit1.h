#pragma once
// The updater window: status, one progress bar, "Mise à jour" and "Quitter". The handlers
// hand the work to UpdateRun and show what it reports.
#include <QMessageBox>
#include <QWidget>

#include <chrono>
#include <memory>

#include "updater/qtprompter.h"
#include "updater/updaterun.h"

namespace Ui {
class TForm1;
}
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace updater {

class TForm1 : public QWidget, private UpdateView {
  Q_OBJECT
 public:
  // folder: where the updater and the main program live, with a trailing "/".
  explicit TForm1(const std::string& folder, QWidget* parent = nullptr);
  ~TForm1() override;

  UpdateRun& Run() { return run_; }
  // Fixed size that fits the current status text.
  void FitWindow();

  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Image1;
  QProgressBar* ProgressBar;
  QPushButton* BitBtn1;
  QPushButton* BitBtn2;
  QPlainTextEdit* Memo1;
  QPushButton* Button2;
  QPushButton* Button3;
  QPushButton* Button5;

 public slots:
  void BitBtn1Click();
  void BitBtn2Click();
  void Button2Click();
  void Button3Click();
  void Button5Click();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void ShowBox(QMessageBox::Icon icon, const std::string& text);
  void FormCreate();
  // UpdateView
  void SetStatus(const std::string& text) override;
  void SetLocalDateText(const std::string& text) override;
  void SetPageLines(const std::vector<std::string>& lines) override;
  void SetUpdateEnabled(bool enabled) override;
  void SetProgressMax(int64_t max) override;
  void SetProgress(int64_t position) override;
  void ShowMessage(const std::string& text) override;
  void ShowFailure(const std::string& text) override;
  bool Pump() override;
  void Close() override;
  ziparchive::Prompter* Prompter() override { return &prompter_; }

  std::unique_ptr<Ui::TForm1> ui_;
  QtPrompter prompter_;
  UpdateRun run_;
  bool closed_ = false;
  int64_t scale_ = 1;  // byte counts above the bar's int range are shown scaled down
  std::chrono::steady_clock::time_point lastPump_{};
};

// Text for a widget: UTF-8, a lone carriage return read as a line break.
QString WidgetText(const std::string& text);

}  // namespace updater

#include "updater/unit1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QIcon>

#include <climits>

#include "ui_Unit1.h"

// The pictures live in a static library: registered once, before the window uses them.
static void InitPictures() {
  static const bool done = [] {
    Q_INIT_RESOURCE(pictures);
    return true;
  }();
  (void)done;
}

namespace updater {

QString WidgetText(const std::string& text) {
  std::string s;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      s += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      s += text[i];
    }
  }
  return QString::fromStdString(s);
}

TForm1::TForm1(const std::string& folder, QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::TForm1>()), prompter_(this), run_(UpdateConfig{folder}, *this) {
  ui_->setupUi(this);
  Label1 = ui_->Label1;
  Label2 = ui_->Label2;
  Label3 = ui_->Label3;
  Image1 = ui_->Image1;
  ProgressBar = ui_->ProgressBar;
  BitBtn1 = ui_->BitBtn1;
  BitBtn2 = ui_->BitBtn2;
  Memo1 = ui_->Memo1;
  Button2 = ui_->Button2;
  Button3 = ui_->Button3;
  Button5 = ui_->Button5;
  InitPictures();
  setWindowIcon(QIcon(QStringLiteral(":/pictures/quillomet.svg")));
  Image1->setPixmap(QIcon(QStringLiteral(":/pictures/quillomet.svg")).pixmap(QSize(24, 24), devicePixelRatioF()));
  BitBtn1->setIcon(QIcon(QStringLiteral(":/pictures/nav-miseajour.svg")));
  BitBtn2->setIcon(QIcon(QStringLiteral(":/pictures/prompt-close.svg")));
  FitWindow();
  connect(BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TForm1::BitBtn2Click);
  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::FormCreate() {
  const std::string name = run_.Config.MainProgramName();
  setWindowTitle(WidgetText("Mise à jour " + name));
  Label2->setText(Label2->text() + WidgetText(name));
  BitBtn1->setToolTip(WidgetText("Recherchez maintenant une nouvelle version de " + name));
  Label1->setText(WidgetText("Pour rechercher une nouvelle version de " + name +
                             "\rVeuillez cliquer sur le bouton \"Mise à jour\"."));
}

void TForm1::BitBtn1Click() {
  // No exception leaves the slot: it is shown as the run's failure.
  try {
    run_.Run();
  } catch (const std::exception& e) {
    ShowFailure(std::string("Erreur inconnue : ") + e.what());
  }
}

void TForm1::BitBtn2Click() { close(); }

void TForm1::Button5Click() { run_.CheckPage(); }

void TForm1::Button2Click() { run_.ReadLocalDate(); }

void TForm1::Button3Click() {
  const std::string failure = run_.Extract();
  if (!failure.empty()) ShowFailure("L'installation de la mise à jour a échoué : " + failure);
}

void TForm1::closeEvent(QCloseEvent* event) {
  closed_ = true;
  QWidget::closeEvent(event);
}

void TForm1::SetStatus(const std::string& text) {
  Label1->setText(WidgetText(text));
  FitWindow();
}

void TForm1::SetLocalDateText(const std::string& text) { Label3->setText(WidgetText(text)); }

void TForm1::SetPageLines(const std::vector<std::string>& lines) {
  Memo1->clear();
  for (const auto& line : lines) Memo1->appendPlainText(QString::fromStdString(line));
}

void TForm1::SetUpdateEnabled(bool enabled) { BitBtn1->setEnabled(enabled); }

void TForm1::SetProgressMax(int64_t max) {
  scale_ = 1;
  while (max / scale_ > INT_MAX) scale_ *= 1024;
  ProgressBar->setMaximum(int(max / scale_));
}

void TForm1::SetProgress(int64_t position) {
  ProgressBar->setValue(int(std::min<int64_t>(position / scale_, ProgressBar->maximum())));
}

void TForm1::ShowMessage(const std::string& text) { ShowBox(QMessageBox::Information, text); }

// Kept above the main program, which a run starts again just before its last word.
void TForm1::ShowBox(QMessageBox::Icon icon, const std::string& text) {
  QMessageBox box(icon, windowTitle(), WidgetText(text), QMessageBox::Ok, this);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  box.exec();
}

void TForm1::FitWindow() {
  // A fixed window of 390 x 153, taller where a status needs more lines.
  setFixedSize(sizeHint().expandedTo(QSize(390, 153)));
}

void TForm1::ShowFailure(const std::string& text) { ShowBox(QMessageBox::Critical, text); }

bool TForm1::Pump() {
  const auto now = std::chrono::steady_clock::now();
  if (now - lastPump_ >= std::chrono::milliseconds(30)) {
    lastPump_ = now;
    QApplication::processEvents();
  }
  return !closed_;
}

void TForm1::Close() { close(); }

}  // namespace updater

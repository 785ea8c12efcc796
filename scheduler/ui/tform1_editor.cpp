// Timetable editor (the two-step wizard of pages 1 and 9).
#include <QMessageBox>
#include <QToolButton>
#include <QStyle>
#include <QTreeWidget>

#include <filesystem>

#include "platform/specialfolders.h"
#include "scheduler/core/editorentry.h"
#include "scheduler/ui/browseforfolder.h"
#include "scheduler/ui/listimages.h"
#include "scheduler/ui/slotguard.h"
#include "scheduler/ui/tform1.h"
#include "scheduler/ui/xpbar.h"

namespace ui {
namespace {

std::string S(const QString& text) { return text.toStdString(); }
QString Q(const std::string& text) { return QString::fromStdString(text); }

constexpr int kCsidlCookies = 33;
constexpr int kCsidlHistory = 34;

// The quick source folders of "Vos répertoires", in the bar's order.
struct QuickFolder {
  int csidl;
  const char* below = "";
};
constexpr QuickFolder kQuickFolders[] = {
    {platform::kCsidlAppData, "/Microsoft/Address Book"}, {kCsidlCookies}, {platform::kCsidlFavorites},
    {platform::kCsidlInternetCache}, {kCsidlHistory}, {platform::kCsidlPersonal}, {platform::kCsidlMyMusic},
    {platform::kCsidlMyVideo}, {platform::kCsidlTemplates}, {platform::kCsidlFonts}};

constexpr std::array<bool, 7> kNoDays{};
constexpr std::array<bool, 7> kAllDays{true, true, true, true, true, true, true};

}  // namespace

void TForm1::connectEditor() {
  for (QLineEdit* e : {Edit13, Edit15, Edit14}) bind(e, &QLineEdit::textChanged, &TForm1::Button6Click);
  for (QSpinBox* s : {Spinheures, SpinMinutes}) bind(s, &QSpinBox::valueChanged, &TForm1::Button6Click);
  for (QCheckBox* c : {CheckBox10, CheckLundi, CheckMardi, CheckMercredi, CheckJeudi, CheckVendredi, CheckSamedi,
                       CheckDimanche, CheckBox2, CheckBox3, CheckBox4, CheckBox5, CheckBox6, CheckBox7, CheckBox8})
    bind(c, &QCheckBox::toggled, &TForm1::Button6Click);
  bind(Button6, &QAbstractButton::clicked, &TForm1::Button6Click);
  for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{SpeedButton3, Button7})
    bind(b, &QAbstractButton::clicked, &TForm1::Button7Click);
  bind(JvXPBar7, &XPBar::clicked, &TForm1::Button7Click);
  // Button31 goes to step two, or saves a USB entry (Button6Click decides).
  connect(Button31, &QAbstractButton::clicked, this, Guard([this] {
            if (button31Saves_) {
              Button7Click();
            } else {
              Button31Click();
            }
          }));
  bind(Button10, &QAbstractButton::clicked, &TForm1::Button10Click);
  bind(SpeedButton2, &QAbstractButton::clicked, &TForm1::SpeedButton2Click);
  bind(SpeedButton1, &QAbstractButton::clicked, &TForm1::SpeedButton1Click);
  connect(PageControl1, &QTabWidget::currentChanged, this, Guard([this](int index) {
            if (index == 9) TabSheet10Enter();
            if (index == 2) TabSheet3Enter();
            if (index == 1) showQuickFolders();
          }));
  Edit13->installEventFilter(this);

  using Handler = void (TForm1::*)();
  struct Item {
    const char* caption;
    Handler handler;
  };
  auto fill = [this](XPBar* bar, std::initializer_list<Item> items) {
    std::vector<Handler> handlers;
    for (const Item& item : items) {
      bar->addItem(QString::fromUtf8(item.caption));
      handlers.push_back(item.handler);
    }
    connect(bar, &XPBar::itemClicked, this, Guard([this, handlers](int index) {
              if (index >= 0 && index < static_cast<int>(handlers.size())) (this->*handlers[index])();
            }));
  };
  // All the quick folders in their order; showQuickFolders() shows those this desktop has.
  fill(JvXPBar4, {{"Carnet d'adresses", &TForm1::JvXPBar4Items9Click},
                  {"Cookies", &TForm1::JvXPBar4Items1Click},
                  {"Favoris", &TForm1::JvXPBar4Items0Click},
                  {"Fichiers temporaires Internet  Explorer", &TForm1::JvXPBar4Items6Click},
                  {"Historique Internet Explorer", &TForm1::JvXPBar4Items2Click},
                  {"Mes documents", &TForm1::JvXPBar4Items3Click},
                  {"Ma musique", &TForm1::JvXPBar4Items7Click},
                  {"Mes vidéos", &TForm1::JvXPBar4Items8Click},
                  {"Modèles Windows", &TForm1::JvXPBar4Items5Click},
                  {"Polices de caractères", &TForm1::JvXPBar4Items4Click},
                  {"Options USB", &TForm1::Image10Click}});
  showQuickFolders();
  fill(JvXPBar2, {{"Sauvegarde Hebdomadaire ?", &TForm1::JvXPBar2Items0Click},
                  {"Sauvegarde Journalière ?", &TForm1::JvXPBar2Items1Click},
                  {"Sauvegarde par Minutes/Heures ?", &TForm1::JvXPBar2Items2Click}});
  fill(JvXPBar1, {{"Le Lundi à 12h30", &TForm1::JvXPBar1Items0Click},
                  {"Le Lundi et le Mardi à 18h00", &TForm1::JvXPBar1Items1Click},
                  {"Tous les jours à 14h00", &TForm1::JvXPBar1Items2Click},
                  {"Du Lundi au Vendredi à 22h30", &TForm1::JvXPBar1Items3Click},
                  {"Toutes les heures", &TForm1::JvXPBar1Items4Click},
                  {"Toutes les 3 minutes", &TForm1::JvXPBar1Items5Click},
                  {"Toutes les minutes", &TForm1::JvXPBar1Items6Click}});
  JvXPBar1->setCollapsed(true);

  ChooseFolder = [this](const QString& title, std::string& folder, bool allowNewFolder) {
    BrowseOptions options;
    options.allowNewFolder = allowNewFolder;
    return BrowseForFolder(this, title, QString(), folder, options);
  };
}

namespace {

core::SummaryWords WordsOf(const TForm1& f) {
  core::SummaryWords w;
  w.programmation = S(f.Label42->text());
  w.toutesLes = S(f.Label33->text());
  w.a = S(f.Label34->text());
  w.heures = S(f.Label2->text());
  w.minutes = S(f.Label1->text());
  w.et = S(f.Label32->text());
  const QLabel* days[] = {f.Label35, f.Label36, f.Label37, f.Label38, f.Label39, f.Label40, f.Label41};
  for (size_t d = 0; d < 7; ++d) w.days[d] = S(days[d]->text());
  return w;
}

std::array<QCheckBox*, 7> DayBoxes(const TForm1& f) {
  return {f.CheckLundi, f.CheckMardi, f.CheckMercredi, f.CheckJeudi, f.CheckVendredi, f.CheckSamedi, f.CheckDimanche};
}

std::array<bool, 7> DaysOf(const TForm1& f) {
  std::array<bool, 7> days{};
  const auto boxes = DayBoxes(f);
  for (size_t d = 0; d < 7; ++d) days[d] = boxes[d]->isChecked();
  return days;
}

core::EditorEntry EntryOf(const TForm1& f) {
  core::EditorEntry e;
  e.hours = f.Spinheures->value();
  e.minutes = f.SpinMinutes->value();
  e.days = DaysOf(f);
  e.source = S(f.Edit13->text());
  e.filter = S(f.Edit15->text());
  e.target = S(f.Edit14->text());
  e.subFolders = f.CheckBox10->isChecked();
  e.overwrite = f.CheckBox12->isChecked();
  return e;
}

}  // namespace

void TForm1::Button6Click() {
  Label6->setText(Q(core::SummaryText(WordsOf(*this), Spinheures->value(), SpinMinutes->value(), DaysOf(*this))));
  if (Edit13->text().isEmpty() || Edit14->text().isEmpty()) {
    JvXPBar3->hide();
    JvXPBar5->hide();
    Button31->setEnabled(false);
    return;
  }
  Button31->setEnabled(true);
  button31Saves_ = core::IsUsbTarget(S(Edit14->text()));
  JvXPBar5->setVisible(!button31Saves_);
  Button31->setText(button31Saves_ ? QStringLiteral("Enregistrer") : QStringLiteral("Suivant >"));
  JvXPBar3->show();
}

void TForm1::editorMessage(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Quillomet"), text, QMessageBox::Ok, this);
  box.setObjectName(QStringLiteral("EditorMessage"));
  box.exec();
}

void TForm1::Button7Click() {
  const core::EditorEntry entry = EntryOf(*this);
  const std::string refusal = core::EditorRefusal(entry, S(Label44->text()));
  if (!refusal.empty()) {
    editorMessage(Q(refusal));
    return;
  }
  std::string error;
  if (!core::SaveEditorEntry(DataFolder + core::kScheduleFileName, entry, &error)) {
    // Reported like every failure (log, mail, history), and told at once: the user waits for
    // the entry and would otherwise believe the backup planned.
    HandleException(std::runtime_error(error));
    QMessageBox::warning(this, QStringLiteral("Quillomet"),
                         QStringLiteral("La programmation n'a pas été enregistrée.\n") + Q(error));
    return;
  }
  PageControl1->setCurrentIndex(3);
  Button3Click();
  Button36Click();
  const int rows = ListView2->topLevelItemCount();
  if (rows == 0) return;
  QTreeWidgetItem* last = ListView2->topLevelItem(rows - 1);
  SetListImage(last, 7);
  ListView2->scrollToItem(last);
  ListView2->clearSelection();
  last->setSelected(true);
  ListView2->setCurrentItem(last);
}

void TForm1::TabSheet10Enter() {
  Label23->setText(Edit13->text() + "/" + Edit15->text());
  Label47->setText(Edit14->text());
}

void TForm1::TabSheet3Enter() {
  Label23->setText(Label43->text() + " " + Edit13->text() + "/" + Edit15->text());
  Label47->setText(Label8->text() + " " + Edit14->text());
}

void TForm1::Button10Click() {
  if (Edit14->text() != Edit13->text() && !Edit13->text().isEmpty() && !Edit14->text().isEmpty()) {
    for (QCheckBox* day : DayBoxes(*this)) day->setChecked(false);
    PageControl1->setCurrentIndex(2);
  } else {
    editorMessage(Label44->text());
  }
}

void TForm1::SpeedButton2Click() {
  JvXPBar4->setCollapsed(false);
  std::string folder = S(Edit13->text());
  if (ChooseFolder(QStringLiteral("Choisissez le dossier source"), folder, false)) Edit13->setText(Q(folder));
}

void TForm1::SpeedButton1Click() {
  std::string folder = S(Edit14->text());
  if (ChooseFolder(QStringLiteral("Choisissez le dossier cible"), folder, true)) Edit14->setText(Q(folder));
}

void TForm1::BitBtn1Click() {
  std::string folder;
  if (ChooseFolder(QStringLiteral("Choisissez le dossier source"), folder, true)) Edit13->setText(Q(folder));
}

void TForm1::Edit13Enter() { JvXPBar4->setCollapsed(false); }
void TForm1::Edit13MouseDown() { JvXPBar4->setCollapsed(true); }
void TForm1::Edit13MouseUp() { JvXPBar4->setCollapsed(false); }

// A folder this system does not have leaves the source as the user typed it.
void TForm1::quickSource(int csidl, const std::string& below) {
  const std::string folder = platform::SpecialFolderPath(csidl);
  if (folder.empty()) return;
  Edit13->setText(Q(folder + below));
}

void TForm1::JvXPBar4Items9Click() { quickSource(kQuickFolders[0].csidl, kQuickFolders[0].below); }
void TForm1::JvXPBar4Items1Click() { quickSource(kQuickFolders[1].csidl); }
void TForm1::JvXPBar4Items0Click() { quickSource(kQuickFolders[2].csidl); }
void TForm1::JvXPBar4Items6Click() { quickSource(kQuickFolders[3].csidl); }
void TForm1::JvXPBar4Items2Click() { quickSource(kQuickFolders[4].csidl); }
void TForm1::JvXPBar4Items3Click() { quickSource(kQuickFolders[5].csidl); }
void TForm1::JvXPBar4Items7Click() { quickSource(kQuickFolders[6].csidl); }
void TForm1::JvXPBar4Items8Click() { quickSource(kQuickFolders[7].csidl); }
void TForm1::JvXPBar4Items5Click() { quickSource(kQuickFolders[8].csidl); }
void TForm1::JvXPBar4Items4Click() { quickSource(kQuickFolders[9].csidl); }

// An item only for a folder that is there on this desktop; "Options USB" always.
void TForm1::showQuickFolders() {
  for (std::size_t i = 0; i < std::size(kQuickFolders); ++i) {
    const std::string base = platform::SpecialFolderPath(kQuickFolders[i].csidl);
    std::error_code ec;
    const bool there = !base.empty() && std::filesystem::is_directory(base + kQuickFolders[i].below, ec);
    if (static_cast<int>(i) < JvXPBar4->itemCount()) JvXPBar4->item(static_cast<int>(i))->setVisible(there);
  }
}

void TForm1::editorHelp(const QString& text, const std::array<bool, 7>& days) {
  Label48->setText(text);
  const auto boxes = DayBoxes(*this);
  for (size_t d = 0; d < 7; ++d) boxes[d]->setChecked(days[d]);
}

void TForm1::editorPreset(const QString& text, const std::array<bool, 7>& days, int hours, int minutes) {
  editorHelp(text, days);
  Spinheures->setValue(hours);
  SpinMinutes->setValue(minutes);
}

void TForm1::JvXPBar2Items0Click() {
  editorHelp(QStringLiteral("Pour une sauvegarde Hebdomadaire.\n\nSélectionner un jour puis indiquer l'heure de sauvegarde."),
             kNoDays);
}

void TForm1::JvXPBar2Items1Click() {
  editorHelp(QStringLiteral("Pour une sauvegarde Journalière.\n\nIndiquer l'heure de sauvegarde, tous les jours doivent être "
                            "cochés."),
             kAllDays);
}

void TForm1::JvXPBar2Items2Click() {
  editorHelp(QStringLiteral("Pour une sauvegarde toutes les X Minutes ou toutes les X Heures.\n\nIndiquer la fréquence de la "
                            "sauvegarde. Tous les jours doivent être décochés."),
             kNoDays);
}

void TForm1::JvXPBar1Items0Click() {
  editorPreset(QStringLiteral("Sauvegarde le lundi à 12h30"), {true, false, false, false, false, false, false}, 12, 30);
}

void TForm1::JvXPBar1Items1Click() {
  editorPreset(QStringLiteral("Sauvegarde le Lundi et le Mardi à 18h00"), {true, true, false, false, false, false, false},
               18, 0);
}

void TForm1::JvXPBar1Items2Click() { editorPreset(QStringLiteral("Sauvegarde tous les jours à 14h00"), kAllDays, 14, 0); }

void TForm1::JvXPBar1Items3Click() {
  editorPreset(QStringLiteral("Sauvegarde du Lundi au Vendredi à 22h30"), {true, true, true, true, true, false, false}, 22,
               30);
}

void TForm1::JvXPBar1Items4Click() { editorPreset(QStringLiteral("Sauvegarde toutes les heures"), kNoDays, 1, 0); }
void TForm1::JvXPBar1Items5Click() { editorPreset(QStringLiteral("Sauvegarde toutes les 3 minutes"), kNoDays, 0, 3); }
void TForm1::JvXPBar1Items6Click() { editorPreset(QStringLiteral("Sauvegarde toutes les minutes"), kNoDays, 0, 1); }

}  // namespace ui

#include "scheduler/ui/tform1.h"

#include <QCheckBox>
#include <QSpinBox>
#include <QTabBar>
#include <QTimer>
#include <gtest/gtest.h>

#include <set>

#include "scheduler/ui/tabout.h"
#include "scheduler/ui/tform2.h"
#include "scheduler/ui/tform4.h"
#include "scheduler/ui/trayicon.h"
#include "scheduler/ui/xpbar.h"
#include "tests/support/testenv.h"

namespace {

TEST(TForm1Form, RegistryHoldsTheGivenComponentsOnceAndNoQtInternals) {
  ui::TForm1 form;
  const auto& entries = form.Components().entries();
  std::set<QString> names;
  for (const auto& e : entries) {
    EXPECT_FALSE(e.name.startsWith("qt_")) << e.name.toStdString();
    EXPECT_FALSE(e.name.startsWith("form")) << e.name.toStdString();
    EXPECT_TRUE(names.insert(e.name).second) << "twice: " << e.name.toStdString();
    EXPECT_EQ(e.object->objectName(), e.name);
  }
  // A sample of every kind and page, named as given.
  for (const char* n : {"Panel4", "Panel5", "PageControl1", "Panel3", "Panel1", "StatusBar1", "MainMenu1", "Label5",
                        "ProgressBar", "TabSheet1", "TabSheet10", "ListView1", "ListView2", "ListView3", "ListBox3",
                        "Edit2", "Edit3", "Edit4", "Edit12", "Edit21", "CheckBox1", "CheckBox13", "sup_a",
                        "SpinEdit_1", "CheckBox_12", "CheckBox_13", "CheckBox_14", "CheckBox_15", "CheckBox_16",
                        "CheckBox_17", "supp_peri", "ComboBox_1", "Edit_20", "Smtp_vz", "mot_de_passe", "on_equeued",
                        "Message_vz", "ScrollBox3", "Spinheures", "SpinMinutes", "CheckDimanche", "GroupBox9", "GroupBox4",
                        "Timer1", "Timer2", "Timer3", "Timer4", "RxTrayIcon1", "PopupMenu1", "PopupMenu2", "Affiche1",
                        "esterlasauvegarde1", "JvBalloonHint1", "JvXPBar3", "JvXPBar6", "Label44", "Label45", "Label46",
                        "Button38", "Button17", "Button18", "SpeedButton9", "Edit23", "Button25", "Edit20", "Button34", "SpeedButton17"})
    EXPECT_NE(form.Components().find(n), nullptr) << n;
  // Qt's own children are never listed, though they are children of listed components.
  EXPECT_FALSE(form.sup_a->findChildren<QObject*>().isEmpty());
  for (QObject* internal : form.sup_a->findChildren<QObject*>()) EXPECT_FALSE(form.Components().isGiven(internal));
  // Form order: the navigation bar, the pages, the progress panel, the command bar.
  auto index = [&](const char* n) {
    for (size_t i = 0; i < entries.size(); ++i)
      if (entries[i].name == n) return static_cast<int>(i);
    return -1;
  };
  EXPECT_LT(index("Panel4"), index("PageControl1"));
  EXPECT_LT(index("TabSheet1"), index("TabSheet2"));
  EXPECT_LT(index("TabSheet9"), index("TabSheet10"));
  EXPECT_LT(index("PageControl1"), index("Panel3"));
  EXPECT_LT(index("Panel3"), index("Panel1"));
}

TEST(TForm1Form, PagesNavigationAndMenusAsDesigned) {
  // A later run: the first one would open the help and colour "Aide".
  testenv::writeFile(testenv::testRoot() / "data" / "Quillomet" / "serie.ini", "[Form1]\n");
  // An existing timetable: the window opens on the history (a new one lands in the editor).
  testenv::writeFile(testenv::testRoot() / "data" / "Quillomet" / "quillo-vz.dat", "\n");
  ui::TForm1 form;
  EXPECT_EQ(form.windowTitle(), "Quillomet");
  // Never smaller than 800 x 600; larger where the pages' texts need it.
  EXPECT_GE(form.minimumWidth(), 800);
  EXPECT_GE(form.minimumHeight(), 600);
  ASSERT_EQ(form.PageControl1->count(), 10);
  EXPECT_FALSE(form.PageControl1->tabBar()->isVisibleTo(&form));
  const char* captions[] = {"Evénements", "Programmation ", "Programmation Répétitive",
                            "Visualisation des programmations", "TabSheet5", "Rétablir connexions Réseau",
                            "Additional Strings", "Fichiers", "TabSheet9", "TabSheet10"};
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(form.PageControl1->widget(i)->objectName(), QString("TabSheet%1").arg(i + 1));
    EXPECT_EQ(form.PageControl1->tabText(i), QString::fromUtf8(captions[i]));
  }
  // Controls sit on the pages the page table gives.
  EXPECT_TRUE(form.TabSheet1->isAncestorOf(form.ListView1));
  EXPECT_TRUE(form.TabSheet4->isAncestorOf(form.ListView2));
  EXPECT_TRUE(form.TabSheet8->isAncestorOf(form.ListView3));
  EXPECT_TRUE(form.TabSheet5->isAncestorOf(form.Label19));
  EXPECT_TRUE(form.TabSheet5->isAncestorOf(form.Button14));
  EXPECT_TRUE(form.TabSheet6->isAncestorOf(form.ListBox2));
  EXPECT_TRUE(form.TabSheet7->isAncestorOf(form.Label44));
  EXPECT_TRUE(form.ScrollBox3->isAncestorOf(form.sup_a));
  EXPECT_TRUE(form.TabSheet9->isAncestorOf(form.ScrollBox3));
  EXPECT_TRUE(form.TabSheet10->isAncestorOf(form.Spinheures));
  EXPECT_TRUE(form.TabSheet2->isAncestorOf(form.Edit13));

  // Navigation bar in its order, only "Historique" in colour at creation.
  const std::vector<std::pair<ui::TransparentButton*, const char*>> nav = {
      {form.JvTransparentButton3, "Historique"}, {form.JvTransparentButton2, "Programmer"},
      {form.JvTransparentButton4, "Liste"},      {form.JvTransparentButton1, "Réseaux"},
      {form.JvTransparentButton5, "Configurer"}, {form.JvTransparentButton6, "Fichiers"},
      {form.JvTransparentButton7, "Mise à jour"}, {form.JvTransparentButton8, "Aide"}};
  int previousX = -1;
  for (const auto& [button, text] : nav) {
    EXPECT_EQ(button->text(), QString::fromUtf8(text));
    EXPECT_EQ(button->autoGray(), button != form.JvTransparentButton3) << text;
    const int x = form.Panel4->layout()->indexOf(button);
    EXPECT_GT(x, previousX) << text;
    previousX = x;
  }
  EXPECT_EQ(form.StatusBar1->panelCount(), 3);

  // Menus with their separators where designed.
  auto texts = [](QMenu* m) {
    QStringList out;
    for (QAction* a : m->actions()) out << (a->isSeparator() ? QString("-") : a->text());
    return out;
  };
  EXPECT_EQ(texts(form.Ouvrir1), (QStringList{"&Ouvrir le dossier Quillomet", "-", "&Voir fichiers journaux",
                                              "V&ider l'historique des sauvegardes", "&Supprimer les fichiers journaux",
                                              "-", "&Réduire", "&Arrêter la copie", "&Quitter"}));
  EXPECT_EQ(texts(form.N5), (QStringList{"&Aide", "à propos", "-", "Mise à jour", "Site Web"}));
  EXPECT_EQ(texts(form.PopupMenu1), (QStringList{"Afficher", "Réduire", "-", "Quitter"}));
  EXPECT_EQ(texts(form.PopupMenu2), (QStringList{"Supprimer", "Copie de ligne", "Tester la sauvegarde"}));
}

TEST(TForm1Form, DesignedDefaultsOfTheSharedControls) {
  ui::TForm1 form;
  EXPECT_EQ(form.sup_a->minimum(), 100);
  EXPECT_EQ(form.sup_a->maximum(), 500000);
  EXPECT_EQ(form.SpinEdit_1->minimum(), 1);
  EXPECT_EQ(form.SpinEdit_1->maximum(), 365);
  EXPECT_EQ(form.Spinheures->maximum(), 23);
  EXPECT_EQ(form.SpinMinutes->maximum(), 59);
  EXPECT_EQ(form.Edit12->text(), "true");
  EXPECT_EQ(form.Edit21->text(), "");
  EXPECT_EQ(form.Edit15->text(), "*.*");
  EXPECT_TRUE(form.CheckBox10->isChecked());
  EXPECT_FALSE(form.Button31->isEnabled());
  EXPECT_FALSE(form.SpeedButton9->isEnabled());
  EXPECT_FALSE(form.Button21->isEnabled());
  for (QWidget* w : std::initializer_list<QWidget*>{form.SpeedButton4, form.SpeedButton5, form.SpeedButton6})
    EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  for (QWidget* w : std::initializer_list<QWidget*>{form.ListBox3, form.Edit12, form.Edit21, form.Edit20,
                                                   form.Edit23, form.CheckBox13, form.Panel2, form.JvXPBar3,
                                                   form.JvXPBar5, form.JvXPBar6, form.SpeedButton11, form.Button38})
    EXPECT_TRUE(w->isHidden()) << w->objectName().toStdString();
  EXPECT_EQ(form.Label44->text(), "impossible de copier sur un même répertoire");
  EXPECT_EQ(form.GroupBox4->title(), "Sauvegarde en cours");
  EXPECT_EQ(form.Timer1->interval(), 1000);
  EXPECT_EQ(form.Timer3->interval(), 6000);
  EXPECT_EQ(form.Timer4->interval(), 60000);
  EXPECT_TRUE(form.Timer1->isActive());
  EXPECT_EQ(form.RxTrayIcon1->hint(), "Quillomet");
  EXPECT_EQ(form.ScruteDossier1.MaxPenetration, -1);
  EXPECT_EQ(form.ScruteDossier2.Filtre, "*.log");
  EXPECT_FALSE(form.ScruteDossier2.SousDossier);
  EXPECT_EQ(form.ListView1->columnCount(), 6);
  EXPECT_EQ(form.ListView2->columnCount(), 7);
  EXPECT_EQ(form.ListView3->columnCount(), 6);
}

}  // namespace

namespace {

TEST(OtherWindows, PromptLogViewerAndAboutBoxAsDesigned) {
  ui::TForm1 main;
  main.Edit21->setText("rien");
  ui::Form1 = &main;
  ui::TForm4 prompt;
  ui::Form1 = nullptr;
  EXPECT_EQ(prompt.SlideSteps, 173);
  EXPECT_EQ(main.Edit21->text(), "");  // the prompt's creation empties the empty-queue marker
  EXPECT_EQ(prompt.Label2->text(), "Voulez-vous démarrer la sauvegarde ?");
  EXPECT_FALSE(prompt.Button3->isEnabled());
  EXPECT_TRUE(prompt.ListBox1->isHidden());
  EXPECT_FALSE(prompt.Timer1->isActive());
  EXPECT_EQ(prompt.Timer1->interval(), 500);
  EXPECT_EQ(prompt.Timer2->interval(), 7000);
  EXPECT_TRUE(prompt.windowFlags() & Qt::FramelessWindowHint);

  ui::TForm2 viewer;
  EXPECT_EQ(viewer.windowTitle(), "Historique");
  ASSERT_EQ(viewer.Listview1->model()->columnCount(), 6);
  EXPECT_EQ(viewer.Listview1->model()->headerData(5, Qt::Horizontal).toString(), "Sous répertoire");
  EXPECT_EQ(viewer.shutJournal->text(), "Fermer");

  ui::TAboutBox about;
  EXPECT_EQ(about.windowTitle(), "A propos");
  EXPECT_EQ(about.size(), QSize(468, 353));
  EXPECT_EQ(about.Label2->text(), "Version : 3.1.0.0");
  EXPECT_TRUE(about.OKButton->isDefault());
  about.show();
  about.OKButton->click();
  EXPECT_TRUE(about.isHidden());
}

}  // namespace

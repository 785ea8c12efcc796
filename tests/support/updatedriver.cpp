// One update run of the updater without its window, as its "Mise à jour" button starts it, for
// tests that stop it at a chosen moment. Arguments: program folder, file name of the main
// program, server address, public key (64 hex digits). Dates are day/month/year. Prints what the
// window would show; exits 0 once the update is installed.
#include <cstdio>
#include <string>

#include "updater/updaterun.h"
#include "updater/ziparchive/zaprompter.h"

namespace {

struct ConsoleView : updater::UpdateView {
  bool Closed = false;
  ziparchive::HeadlessPrompter Headless;

  void SetStatus(const std::string& t) override { std::printf("statut : %s\n", t.c_str()); }
  void SetLocalDateText(const std::string&) override {}
  void SetPageLines(const std::vector<std::string>&) override {}
  void SetUpdateEnabled(bool) override {}
  void SetProgressMax(int64_t) override {}
  void SetProgress(int64_t) override {}
  void ShowMessage(const std::string& t) override { std::printf("message : %s\n", t.c_str()); }
  bool Pump() override { return true; }
  void Close() override { Closed = true; }
  ziparchive::Prompter* Prompter() override { return &Headless; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s FOLDER PROGRAM SERVER PUBLIC-KEY\n", argv[0]);
    return 2;
  }
  updater::UpdateConfig config;
  config.Folder = std::string(argv[1]) + "/";
  config.ExeFileName = argv[2];
  config.Server = argv[3];
  config.PublicKey = argv[4];
  config.StepPause = std::chrono::milliseconds(0);
  ConsoleView view;
  updater::UpdateRun run(config, view);
  run.DateFormat = updater::ShortDateFormat::FromStrftime("%d/%m/%Y");
  run.Run();
  std::fflush(stdout);
  return view.Closed ? 0 : 1;
}

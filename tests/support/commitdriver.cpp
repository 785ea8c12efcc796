// A change of an archive through the engine that kills itself (SIGKILL) at a chosen step, or
// waits there, for the tests of what a killed commit leaves behind and of two writers.
//
//   zacommit_driver <step> <archive> <temp folder> add <name> <file>
//   zacommit_driver <step> <archive> <temp folder> delete <name>
//   zacommit_driver <step> <archive> <temp folder> rename <from> <to>
//   zacommit_driver <step> <archive> <temp folder> open
//
// Steps are counted from 1: every step the commit and the next open's recovery name, and every
// progress report while an entry's data is written. Step 0 runs to the end and prints
// "steps N", the number of steps taken. "kill=NAME" is killed at the first step of that name;
// "hold=NAME" waits there ("opened": once the archive is open): it prints "held NAME" and goes
// on when a line (or the end) comes on its input. A failure prints "code N", the engine code.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zadirmanager.h"
#include "updater/ziparchive/zaexcept.h"
#include "updater/ziparchive/zajournal.h"

using namespace ziparchive;

namespace {

long g_killAt = 0;
long g_steps = 0;
std::string g_holdAt, g_killAtName;

void step(const char* name) {
  if (++g_steps == g_killAt || g_killAtName == name) ::raise(SIGKILL);
  if (!g_holdAt.empty() && g_holdAt == name) {
    g_holdAt.clear();
    std::printf("held %s\n", name);
    std::fflush(stdout);
    for (int c = 0; c != EOF && c != '\n';) c = std::getchar();
  }
}

int usage() {
  std::fprintf(stderr, "usage: zacommit_driver <step> <archive> <temp folder> add|delete|rename|open ...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) return usage();
  if (std::strncmp(argv[1], "hold=", 5) == 0) {
    g_holdAt = argv[1] + 5;
  } else if (std::strncmp(argv[1], "kill=", 5) == 0) {
    g_killAtName = argv[1] + 5;
  } else {
    g_killAt = std::strtol(argv[1], nullptr, 10);
  }
  const std::string verb = argv[4];
  TZACommitJournal::StepHook = step;
  try {
    TZipArchiver zip;
    zip.FileName = argv[2];
    zip.TempDir = argv[3];
    zip.OnFileProgress = [](TZABaseArchiver*, const std::string&, double, TZAProcessOperation, TZAProgressPhase phase,
                            bool&) {
      if (phase == ppProcess) step("data");
    };
    zip.OpenArchive();
    step("opened");
    if (verb != "open") {
      zip.BeginUpdate();
      if (verb == "add" && argc == 7) {
        std::ifstream in(argv[6], std::ios::binary);
        const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        auto* s = new TZAMemoryStream;
        s->WriteBuffer(data.data(), int64_t(data.size()));
        zip.AddStream(s, true, argv[5]);
      } else if (verb == "delete" && argc == 6) {
        zip.DeleteDirEntry(zip.FindEntry(argv[5]));
      } else if (verb == "rename" && argc == 7) {
        zip.RenameFile(argv[5], argv[6]);
      } else {
        return usage();
      }
      zip.EndUpdate();
    }
    zip.CloseArchive();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zacommit_driver: %s\n", e.what());
    const auto* engine = dynamic_cast<const EZAException*>(&e);
    std::printf("code %d\n", engine != nullptr ? engine->NativeError : 0);
    return 1;
  }
  std::printf("steps %ld\n", g_steps);
  return 0;
}

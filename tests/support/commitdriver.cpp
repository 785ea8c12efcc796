// A change of an archive through the engine that kills itself (SIGKILL) at a chosen step, for
// the tests of what a killed commit leaves behind.
//
//   zacommit_driver <step> <archive> <temp folder> add <name> <file>
//   zacommit_driver <step> <archive> <temp folder> delete <name>
//   zacommit_driver <step> <archive> <temp folder> rename <from> <to>
//   zacommit_driver <step> <archive> <temp folder> open
//
// Steps are counted from 1: every step the commit and the next open's recovery name, and every
// progress report while an entry's data is written. Step 0 runs to the end and prints
// "steps N", the number of steps taken.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zadirmanager.h"
#include "updater/ziparchive/zajournal.h"

using namespace ziparchive;

namespace {

long g_killAt = 0;
long g_steps = 0;

void step(const char*) {
  if (++g_steps == g_killAt) ::raise(SIGKILL);
}

int usage() {
  std::fprintf(stderr, "usage: zacommit_driver <step> <archive> <temp folder> add|delete|rename|open ...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) return usage();
  g_killAt = std::strtol(argv[1], nullptr, 10);
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
    return 1;
  }
  std::printf("steps %ld\n", g_steps);
  return 0;
}

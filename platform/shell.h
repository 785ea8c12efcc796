#pragma once
// Opening documents, folders and addresses, and starting programs, without waiting for them.
#include <string>

namespace platform {

// Folder of the running program file (from /proc/self/exe), without a trailing "/".
std::string ProgramFolder();

// A regular executable file is started detached; a document, folder or URL goes to xdg-open.
// A path that names nothing is ignored. The outcome is not reported.
void ShellOpen(const std::string& target);

// Starts argv[0] (looked up in PATH) detached: it is reparented away, never a zombie of ours.
// Returns false when the program could not be started.
bool SpawnDetached(const std::string& program, const std::string& argument);

}  // namespace platform

#pragma once
// French texts of the system errors that file copies and shares meet, for the history, the
// logs and the last-run list.
#include <string>

namespace platform {

// The text for an errno value; one the table lacks reads "Erreur système n° <number>".
std::string SystemErrorText(int error);

}  // namespace platform

#pragma once
// Message table of the archive engine and the texts of its default dialogs.
#include <cstdint>

namespace ziparchive {

constexpr int kZAMessageCount = 41;
constexpr int kZACodeTableSize = 61;

struct TZACodeEntry {
  int32_t Code;
  int32_t MessageIndex;
};

extern const char* const ZAMessages[kZAMessageCount];
extern const TZACodeEntry ZACodeTable[kZACodeTableSize];

// Message index of an engine code; 0 ("Unknown error") for a code the table does not map,
// negative codes included.
int32_t MessageIndexForCode(int32_t code);
// Text of a message index; "Unknown error" for an index outside the table.
const char* MessageText(int32_t index);

// Texts of the default dialogs.
namespace zatext {
inline constexpr const char* OverwriteFile = "Overwrite file \"%s\" with \"%s\"";
inline constexpr const char* PasswordCaption = "Password for \"%s\"";
inline constexpr const char* PasswordPrompt = "Enter password: ";
inline constexpr const char* InsertBlankDisk = "Please insert a blank disk #%d";
inline constexpr const char* InsertFirstDisk = "Please insert the first disk";
inline constexpr const char* InsertLastDisk = "Please insert the last disk";
inline constexpr const char* InsertDisk = "Please insert disk #%d";
inline constexpr const char* DiskFull =
    "Disk is full. Required free space: %d bytes, but available only: %d bytes. Clean the disk or "
    "find another blank disk";
inline constexpr const char* FileProcessingError = "%s. File processing error, possibly disk is full";
inline constexpr const char* FileNotOnDisk =
    "File '%s' not found on inserted disk. Please insert last disk with required file";
}  // namespace zatext

}  // namespace ziparchive

#pragma once
// List items that carry text lines of bytes (paths need not be valid UTF-8): the item keeps
// the bytes beside the text it shows.
#include <string>
#include <string_view>
#include <vector>

class QListWidget;
class QListWidgetItem;

namespace ui {

// What a list shows of a text: at most kShownBytes bytes, cut on a character boundary
// (`cut` tells whether it was). A path holds at most 4,095 bytes, and laying out text of
// many megabytes in a view takes many times its size in memory.
inline constexpr std::size_t kShownBytes = 8192;
std::string_view ShownPart(std::string_view bytes, bool* cut = nullptr);
// The mark put after a cut text.
inline constexpr char kCutMark[] = "\u2026";

// Appends an item showing `bytes` (cut as above) and keeping them whole.
void AddItemText(QListWidget& list, const std::string& bytes);
// The bytes an item keeps, or its shown text as UTF-8 for an item added as plain text.
std::string ItemText(const QListWidgetItem& item);
std::vector<std::string> ItemTexts(const QListWidget& list);

}  // namespace ui

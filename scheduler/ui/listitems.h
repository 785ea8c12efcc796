#pragma once
// List items that carry text lines of bytes (paths need not be valid UTF-8): the item keeps
// the bytes beside the text it shows.
#include <string>
#include <vector>

class QListWidget;
class QListWidgetItem;

namespace ui {

// Appends an item showing `bytes` and keeping them as they are.
void AddItemText(QListWidget& list, const std::string& bytes);
// The bytes an item keeps, or its shown text as UTF-8 for an item added as plain text.
std::string ItemText(const QListWidgetItem& item);
std::vector<std::string> ItemTexts(const QListWidget& list);

}  // namespace ui

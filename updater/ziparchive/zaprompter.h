#pragma once
// Questions the engine's default dialogs ask; the program supplies the windows.
#include <string>
#include <vector>

namespace ziparchive {

enum class TZAButton { Ok, Cancel, Yes, No, YesToAll, NoToAll, Abort, Retry, Ignore, Closed };

class Prompter {
 public:
  virtual ~Prompter() = default;
  // A confirmation box with the given buttons; returns the button pressed, or Closed.
  virtual TZAButton Confirm(const std::string& text, const std::vector<TZAButton>& buttons) = 0;
  // An input box starting with value; false when cancelled (value then unchanged).
  virtual bool InputBox(const std::string& caption, const std::string& prompt, std::string& value) = 0;
};

// Answers as a box closed without a choice: Closed, and cancel for input.
class HeadlessPrompter : public Prompter {
 public:
  TZAButton Confirm(const std::string&, const std::vector<TZAButton>&) override { return TZAButton::Closed; }
  bool InputBox(const std::string&, const std::string&, std::string&) override { return false; }
};

}  // namespace ziparchive

#pragma once
// The archive engine's exception: an engine code, its message index and the composed text.
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>

#include "updater/ziparchive/zaformat.h"

namespace ziparchive {

class TZABaseArchiver;

class EZAException : public std::exception {
 public:
  // Index into the message table; 0 when the engine code is not in the code table.
  int32_t ErrorCode = 0;
  // The engine code given by the raiser.
  int32_t NativeError = 0;

  static EZAException CreateForCode(int32_t code, const TZABaseArchiver* component = nullptr);
  static EZAException CreateForCodeFmt(int32_t code, const TZABaseArchiver* component,
                                       std::initializer_list<FmtArg> args);

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const { return message_; }
  // Adds a fact to the message, after the code: " (detail)".
  EZAException& AppendDetail(const std::string& detail) {
    message_ += " (" + detail + ")";
    return *this;
  }

 private:
  EZAException() = default;
  static EZAException compose(int32_t code, const TZABaseArchiver* component, const std::string& text);

  std::string message_;
};

// The code written in five places, blanks as zeros: 35 -> "00035"; longer codes keep all digits.
std::string NativeErrorText(int32_t code);

}  // namespace ziparchive

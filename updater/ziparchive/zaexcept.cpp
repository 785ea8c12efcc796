#include "updater/ziparchive/zaexcept.h"

#include "updater/ziparchive/zaarchiver.h"
#include "updater/ziparchive/zaconst.h"

namespace ziparchive {

std::string NativeErrorText(int32_t code) {
  std::string text = FormatText("%5d", {code});
  for (char& c : text) {
    if (c == ' ') c = '0';
  }
  return text;
}

EZAException EZAException::compose(int32_t code, const TZABaseArchiver* component, const std::string& text) {
  EZAException e;
  e.NativeError = code;
  e.ErrorCode = MessageIndexForCode(code);
  std::string body = text;
  if (component != nullptr && !component->Name.empty()) body = component->Name + ": " + body;
  e.message_ = body + " - Native error: " + NativeErrorText(code);
  return e;
}

EZAException EZAException::CreateForCode(int32_t code, const TZABaseArchiver* component) {
  return compose(code, component, MessageText(MessageIndexForCode(code)));
}

EZAException EZAException::CreateForCodeFmt(int32_t code, const TZABaseArchiver* component,
                                            std::initializer_list<FmtArg> args) {
  return compose(code, component, FormatText(MessageText(MessageIndexForCode(code)), args));
}

}  // namespace ziparchive

#include "scheduler/ui/slotguard.h"

#include <cstdio>
#include <stdexcept>

namespace ui {

namespace {

void DefaultHandler(const std::exception& e) { std::fprintf(stderr, "Quillomet: %s\n", e.what()); }

ExceptionHandler& Current() {
  static ExceptionHandler handler = DefaultHandler;
  return handler;
}

}  // namespace

void SetExceptionHandler(ExceptionHandler handler) {
  Current() = handler ? std::move(handler) : ExceptionHandler(DefaultHandler);
}

void HandleException(const std::exception& e) noexcept {
  try {
    Current()(e);
  } catch (...) {
    // The handler's own failure has nowhere left to go.
  }
}

void HandleUnknownException() noexcept {
  HandleException(std::runtime_error("Exception inconnue"));
}

}  // namespace ui

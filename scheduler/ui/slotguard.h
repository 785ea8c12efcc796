#pragma once
// Every slot runs its body through Guarded(): an exception never crosses a Qt frame, it goes
// to the application-wide handler instead (settable; a default one writes to stderr).
#include <exception>
#include <functional>
#include <type_traits>
#include <utility>

namespace ui {

using ExceptionHandler = std::function<void(const std::exception&)>;

// Replaces the application-wide handler; an empty handler restores the default one.
void SetExceptionHandler(ExceptionHandler handler);

// Hands an exception to the handler; an exception thrown by the handler itself is swallowed.
void HandleException(const std::exception& e) noexcept;

void HandleUnknownException() noexcept;

// Runs body; any exception it lets escape reaches the handler. Never throws.
template <class F>
void Guarded(F&& body) noexcept {
  try {
    std::forward<F>(body)();
  } catch (const std::exception& e) {
    HandleException(e);
  } catch (...) {
    HandleUnknownException();
  }
}

// Wraps a callable for connect(): the returned slot runs it guarded. The signal's arguments
// are passed on when the callable takes them, else dropped.
template <class F>
auto Guard(F f) {
  return [f = std::move(f)](auto&&... args) {
    Guarded([&] {
      if constexpr (std::is_invocable_v<F&, decltype(args)...>) {
        f(std::forward<decltype(args)>(args)...);
      } else {
        f();
      }
    });
  };
}

}  // namespace ui

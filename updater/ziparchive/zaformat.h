#pragma once
// Small printf-like formatter for the engine's texts. Arguments are values, never formats:
// a file name holding "%" is copied as it stands.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace ziparchive {

class FmtArg {
 public:
  enum class Kind { Text, Signed, Unsigned, Real };

  FmtArg(const char* s) : kind_(Kind::Text), text_(s ? s : "") {}
  FmtArg(const std::string& s) : kind_(Kind::Text), text_(s) {}
  FmtArg(std::string_view s) : kind_(Kind::Text), text_(s) {}
  FmtArg(int v) : kind_(Kind::Signed), signed_(v) {}
  FmtArg(long v) : kind_(Kind::Signed), signed_(v) {}
  FmtArg(long long v) : kind_(Kind::Signed), signed_(v) {}
  FmtArg(unsigned v) : kind_(Kind::Unsigned), unsigned_(v) {}
  FmtArg(unsigned long v) : kind_(Kind::Unsigned), unsigned_(v) {}
  FmtArg(unsigned long long v) : kind_(Kind::Unsigned), unsigned_(v) {}
  FmtArg(double v) : kind_(Kind::Real), real_(v) {}

  Kind kind() const { return kind_; }
  const std::string& text() const { return text_; }
  int64_t asSigned() const;
  uint64_t asUnsigned() const;
  double asReal() const;

 private:
  Kind kind_;
  std::string text_;
  int64_t signed_ = 0;
  uint64_t unsigned_ = 0;
  double real_ = 0;
};

// Conversions: %s %d %u %x %f and %%, with optional "-", "0", width and ".precision"
// (minimum digits for integers, decimals for %f). Numbers are printed in full, 64 bits.
// A conversion without an argument is copied as written; extra arguments are ignored.
std::string FormatText(std::string_view format, std::initializer_list<FmtArg> args);

}  // namespace ziparchive

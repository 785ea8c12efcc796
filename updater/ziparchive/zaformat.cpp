#include "updater/ziparchive/zaformat.h"

#include <cstdio>
#include <vector>

namespace ziparchive {

int64_t FmtArg::asSigned() const {
  switch (kind_) {
    case Kind::Signed: return signed_;
    case Kind::Unsigned: return static_cast<int64_t>(unsigned_);
    case Kind::Real: return static_cast<int64_t>(real_);
    case Kind::Text: break;
  }
  return 0;
}

uint64_t FmtArg::asUnsigned() const {
  switch (kind_) {
    case Kind::Signed: return static_cast<uint64_t>(signed_);
    case Kind::Unsigned: return unsigned_;
    case Kind::Real: return static_cast<uint64_t>(real_);
    case Kind::Text: break;
  }
  return 0;
}

double FmtArg::asReal() const {
  switch (kind_) {
    case Kind::Signed: return static_cast<double>(signed_);
    case Kind::Unsigned: return static_cast<double>(unsigned_);
    case Kind::Real: return real_;
    case Kind::Text: break;
  }
  return 0;
}

namespace {

std::string pad(std::string body, size_t width, bool left, char fill) {
  if (body.size() >= width) return body;
  if (left) return body + std::string(width - body.size(), ' ');
  if (fill == '0') {
    size_t sign = (!body.empty() && body[0] == '-') ? 1 : 0;
    return body.substr(0, sign) + std::string(width - body.size(), '0') + body.substr(sign);
  }
  return std::string(width - body.size(), ' ') + body;
}

std::string digits(uint64_t v, unsigned base, int precision) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  do {
    out.insert(out.begin(), kHex[v % base]);
    v /= base;
  } while (v != 0);
  if (precision > 0 && out.size() < static_cast<size_t>(precision)) {
    out.insert(0, static_cast<size_t>(precision) - out.size(), '0');
  }
  return out;
}

std::string convert(char conv, const FmtArg& arg, int precision) {
  using K = FmtArg::Kind;
  if (conv == 's' || arg.kind() == K::Text) {
    if (arg.kind() == K::Text) {
      return precision >= 0 ? arg.text().substr(0, static_cast<size_t>(precision)) : arg.text();
    }
    conv = arg.kind() == K::Real ? 'f' : (arg.kind() == K::Unsigned ? 'u' : 'd');
  }
  switch (conv) {
    case 'd': {
      if (arg.kind() == K::Unsigned) return digits(arg.asUnsigned(), 10, precision);
      int64_t v = arg.asSigned();
      uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
      return (v < 0 ? "-" : "") + digits(mag, 10, precision);
    }
    case 'u': return digits(arg.asUnsigned(), 10, precision);
    case 'x': return digits(arg.asUnsigned(), 16, precision);
    case 'f': {
      char buf[512];
      std::snprintf(buf, sizeof buf, "%.*f", precision < 0 ? 2 : precision, arg.asReal());
      return buf;
    }
  }
  return {};
}

}  // namespace

std::string FormatText(std::string_view format, std::initializer_list<FmtArg> args) {
  std::string out;
  auto next = args.begin();
  size_t i = 0;
  while (i < format.size()) {
    char c = format[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      i += 2;
      continue;
    }
    size_t start = i++;
    bool left = false;
    char fill = ' ';
    while (i < format.size() && (format[i] == '-' || format[i] == '0')) {
      if (format[i] == '-') left = true; else fill = '0';
      ++i;
    }
    size_t width = 0;
    while (i < format.size() && format[i] >= '0' && format[i] <= '9') width = width * 10 + (format[i++] - '0');
    int precision = -1;
    if (i < format.size() && format[i] == '.') {
      precision = 0;
      ++i;
      while (i < format.size() && format[i] >= '0' && format[i] <= '9') precision = precision * 10 + (format[i++] - '0');
    }
    if (i >= format.size()) {
      out.append(format.substr(start));
      break;
    }
    char conv = format[i++];
    bool known = conv == 's' || conv == 'd' || conv == 'u' || conv == 'x' || conv == 'f';
    if (!known || next == args.end()) {
      out.append(format.substr(start, i - start));
      continue;
    }
    out += pad(convert(conv, *next++, precision), width, left, fill);
  }
  return out;
}

}  // namespace ziparchive

// Reading and writing of the service's JSON: first-member-wins parsing with a depth bound, the
// compact writer with the clients' escaping, and the text form of member values.
#include "protocol/Json.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <unordered_set>
#include <vector>

#include "platform/FormatSettings.h"

namespace kelvora::protocol {
namespace {

// Builds the document from the parser's events, with the protocol's two rules: a member whose name
// its object already holds is read and thrown away with all it contains, and a container opened
// below kMaxJsonDepth others fails the whole text. Members are appended to their object directly:
// the object type's own insertion looks for the name first, which made an object of n members cost
// n² comparisons (seconds for one large frame). Names are looked up in the object itself while it
// is small and in a hash set of its own once it grows.
class FirstMemberWinsBuilder final : public nlohmann::json_sax<Json> {
 public:
  Json root;

  bool null() override { return Put(nullptr); }
  bool boolean(bool value) override { return Put(value); }
  bool number_integer(number_integer_t value) override { return Put(value); }
  bool number_unsigned(number_unsigned_t value) override { return Put(value); }
  bool number_float(number_float_t value, const string_t&) override { return Put(value); }
  bool string(string_t& value) override { return Put(std::move(value)); }
  bool binary(binary_t&) override { return false; }
  bool start_object(std::size_t) override { return Open(Json::value_t::object); }
  bool start_array(std::size_t) override { return Open(Json::value_t::array); }
  bool end_object() override { return Close(); }
  bool end_array() override { return Close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

  bool key(string_t& name) override {
    if (dropped_ > 0) return true;
    Level& level = open_.back();
    dropNext_ = !level.RememberName(name);
    if (!dropNext_) name_ = std::move(name);
    return true;
  }

 private:
  using Members = Json::object_t::Container;
  static constexpr std::size_t kScanLimit = 16;

  struct Level {
    Json* container;
    std::unordered_set<std::string> names;  // filled once the object outgrows kScanLimit

    // True when the object did not hold the name yet.
    bool RememberName(const std::string& name) {
      const Members& members = container->get_ref<const Json::object_t&>();
      if (members.size() < kScanLimit) {
        for (const auto& member : members) {
          if (member.first == name) return false;
        }
        return true;
      }
      if (names.empty()) {
        for (const auto& member : members) names.insert(member.first);
      }
      return names.insert(name).second;
    }
  };

  // Places a value in the open container (or as the root) and returns where it went; nullptr when
  // it belongs to a member that is thrown away.
  Json* Place(Json&& value) {
    if (dropped_ > 0) return nullptr;
    if (dropNext_) {
      dropNext_ = false;
      return nullptr;
    }
    if (open_.empty()) {
      root = std::move(value);
      return &root;
    }
    Json& parent = *open_.back().container;
    if (parent.is_array()) {
      auto& elements = parent.get_ref<Json::array_t&>();
      elements.push_back(std::move(value));
      return &elements.back();
    }
    Members& members = parent.get_ref<Json::object_t&>();
    members.emplace_back(std::move(name_), std::move(value));
    return &members.back().second;
  }
  bool Put(Json&& value) {
    Place(std::move(value));
    return true;
  }
  bool Open(Json::value_t kind) {
    if (++depth_ > kMaxJsonDepth) return false;
    if (dropped_ > 0) {
      ++dropped_;
    } else if (Json* placed = Place(Json(kind))) {
      open_.push_back({placed, {}});
    } else {
      dropped_ = 1;
    }
    return true;
  }
  bool Close() {
    --depth_;
    if (dropped_ > 0) {
      --dropped_;
    } else {
      open_.pop_back();
    }
    return true;
  }

  std::vector<Level> open_;
  std::string name_;
  std::size_t depth_ = 0;
  std::size_t dropped_ = 0;  // containers open inside a member that is thrown away
  bool dropNext_ = false;
};

// Length of the well-formed UTF-8 sequence at the start of `s` and its code point; 0 when the first
// byte does not begin one (a stray continuation byte, an overlong form, a surrogate, a value beyond
// U+10FFFF or a sequence cut short).
std::size_t DecodeUtf8(std::string_view s, char32_t& cp) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b0 = byte(0);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) low = 0xA0;
    if (b0 == 0xED) high = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    cp = b0 & 0x07;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char b = byte(i);
    if (i == 1 ? (b < low || b > high) : (b < 0x80 || b > 0xBF)) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  return length;
}

// Appends one UTF-16 code unit as \u and four upper-case hexadecimal digits.
void AppendEscapedUnit(std::string& out, unsigned unit) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
}

// Writes a string literal with the escaping the clients expect (see WriteJson).
void WriteString(std::string& out, std::string_view text) {
  out += '"';
  while (!text.empty()) {
    char32_t cp = 0;
    std::size_t length = DecodeUtf8(text, cp);
    if (length == 0) {
      cp = 0xFFFD;
      length = 1;
    }
    text.remove_prefix(length);
    switch (cp) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '/':
        out += "\\/";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (cp >= 0x20 && cp <= 0x7F) {
          out += static_cast<char>(cp);
        } else if (cp > 0xFFFF) {
          const char32_t v = cp - 0x10000;
          AppendEscapedUnit(out, 0xD800 + (v >> 10));
          AppendEscapedUnit(out, 0xDC00 + (v & 0x3FF));
        } else {
          AppendEscapedUnit(out, cp);
        }
    }
  }
  out += '"';
}

// The decimal digits of |value| (finite, not zero) without trailing zeros, and the exponent `point`
// such that |value| = 0.<digits> × 10^point: the shortest digits that read back to the same double
// when `precision` is 0, otherwise the value rounded to `precision` significant digits.
void DecimalDigits(double value, int precision, std::string& digits, int& point) {
  char buffer[64];
  const double magnitude = std::fabs(value);
  const auto result = precision == 0 ? std::to_chars(buffer, buffer + sizeof buffer, magnitude,
                                                     std::chars_format::scientific)
                                     : std::to_chars(buffer, buffer + sizeof buffer, magnitude,
                                                     std::chars_format::scientific, precision - 1);
  const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const auto e = text.find('e');
  digits.clear();
  for (char c : text.substr(0, e))
    if (c != '.') digits += c;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  point = std::atoi(std::string(text.substr(e + 1)).c_str()) + 1;
}

// A floating-point number as JSON text, choosing plain or exponent notation as JavaScript does.
void WriteFloat(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  if (value == 0) {
    out += '0';
    return;
  }
  std::string digits;
  int n = 0;
  DecimalDigits(value, 0, digits, n);
  const int k = static_cast<int>(digits.size());
  if (value < 0) out += '-';
  if (k <= n && n <= 21) {
    out += digits;
    out.append(static_cast<std::size_t>(n - k), '0');
  } else if (0 < n && n <= 21) {
    out.append(digits, 0, static_cast<std::size_t>(n));
    out += '.';
    out.append(digits, static_cast<std::size_t>(n));
  } else if (-6 < n && n <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-n), '0');
    out += digits;
  } else {
    out += digits[0];
    if (k > 1) {
      out += '.';
      out.append(digits, 1);
    }
    out += n - 1 >= 0 ? "e+" : "e-";
    out += std::to_string(std::abs(n - 1));
  }
}

// Appends the compact text of any value; members and items keep their order.
void Write(std::string& out, const Json& value) {
  switch (value.type()) {
    case Json::value_t::null:
      out += "null";
      break;
    case Json::value_t::boolean:
      out += value.get<bool>() ? "true" : "false";
      break;
    case Json::value_t::number_integer:
      out += std::to_string(value.get<std::int64_t>());
      break;
    case Json::value_t::number_unsigned:
      out += std::to_string(value.get<std::uint64_t>());
      break;
    case Json::value_t::number_float:
      WriteFloat(out, value.get<double>());
      break;
    case Json::value_t::string:
      WriteString(out, value.get_ref<const std::string&>());
      break;
    case Json::value_t::array: {
      out += '[';
      bool first = true;
      for (const auto& item : value) {
        if (!first) out += ',';
        first = false;
        Write(out, item);
      }
      out += ']';
      break;
    }
    case Json::value_t::object: {
      out += '{';
      bool first = true;
      for (const auto& [name, item] : value.items()) {
        if (!first) out += ',';
        first = false;
        WriteString(out, name);
        out += ':';
        Write(out, item);
      }
      out += '}';
      break;
    }
    case Json::value_t::binary:
    case Json::value_t::discarded:
      throw std::invalid_argument("WriteJson: value has no JSON text");
  }
}

// A floating-point number in the pt-BR general format (see ValueAsText).
std::string FloatAsText(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";
  constexpr int kPrecision = 15;
  const char separator = platform::PtBR().DecimalSeparator;
  std::string digits;
  int point = 0;
  DecimalDigits(value, kPrecision, digits, point);
  const int k = static_cast<int>(digits.size());
  std::string out = value < 0 ? "-" : "";
  if (point > kPrecision || point < -3) {
    out += digits[0];
    if (k > 1) {
      out += separator;
      out.append(digits, 1);
    }
    out += 'E';
    out += std::to_string(point - 1);
  } else if (point <= 0) {
    out += '0';
    out += separator;
    out.append(static_cast<std::size_t>(-point), '0');
    out += digits;
  } else if (point >= k) {
    out += digits;
    out.append(static_cast<std::size_t>(point - k), '0');
  } else {
    out.append(digits, 0, static_cast<std::size_t>(point));
    out += separator;
    out.append(digits, static_cast<std::size_t>(point));
  }
  return out;
}

}  // namespace

std::optional<Json> ParseJson(std::string_view text) {
  FirstMemberWinsBuilder builder;
  if (!Json::sax_parse(text, &builder)) return std::nullopt;
  return std::move(builder.root);
}

std::string WriteJson(const Json& value) {
  std::string out;
  Write(out, value);
  return out;
}

std::string ValueAsText(const Json& value) {
  switch (value.type()) {
    case Json::value_t::string:
      return value.get<std::string>();
    case Json::value_t::number_integer:
      return std::to_string(value.get<std::int64_t>());
    case Json::value_t::number_unsigned:
      return std::to_string(value.get<std::uint64_t>());
    case Json::value_t::number_float:
      return FloatAsText(value.get<double>());
    case Json::value_t::boolean:
      return value.get<bool>() ? "true" : "false";
    case Json::value_t::null:
      return "null";
    default:
      return {};
  }
}

std::string GetRequiredField(const Json& object, std::string_view name) {
  if (object.is_object()) {
    const auto it = object.find(name);
    if (it != object.end()) return ValueAsText(*it);
  }
  throw EJsonFieldMissing("Campo " + std::string(name) + " nao encontrado.");
}

}  // namespace kelvora::protocol

// Fuzz target of the service's JSON reading and writing: client text through ParseJson, every
// value through ValueAsText, and WriteJson's output read back; also raw bytes and raw doubles
// handed straight to the writer.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "fuzz/JsonEquivalence.h"
#include "protocol/Json.h"

namespace kelvora::fuzz {
namespace {

using protocol::Json;

// The parse ParseJson must give, built the plain way (each name looked up in its object with the
// object type's own functions, which ParseJson avoids for speed): a member whose name its object
// already holds is read and thrown away, with all it contains, and a container nested deeper than
// kMaxJsonDepth fails the whole text.
class FirstMemberWinsReference final : public nlohmann::json_sax<Json> {
 public:
  Json root;

  bool null() override { return Put(nullptr); }
  bool boolean(bool value) override { return Put(value); }
  bool number_integer(number_integer_t value) override { return Put(value); }
  bool number_unsigned(number_unsigned_t value) override { return Put(value); }
  bool number_float(number_float_t value, const string_t&) override { return Put(value); }
  bool string(string_t& value) override { return Put(value); }
  bool binary(binary_t&) override { return false; }
  bool start_object(std::size_t) override { return Open(Json::object()); }
  bool start_array(std::size_t) override { return Open(Json::array()); }
  bool end_object() override { return Close(); }
  bool end_array() override { return Close(); }
  bool key(string_t& name) override {
    if (dropped_ == 0) {
      dropNext_ = open_.back()->contains(name);
      name_ = name;
    }
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  // Places a value in the open container (or as the root) and returns where it went; nullptr
  // when it belongs to a member that is thrown away.
  Json* Place(Json value) {
    if (dropped_ > 0) return nullptr;
    if (dropNext_) {
      dropNext_ = false;
      return nullptr;
    }
    if (open_.empty()) {
      root = std::move(value);
      return &root;
    }
    Json& parent = *open_.back();
    if (parent.is_array()) {
      parent.push_back(std::move(value));
      return &parent.back();
    }
    return &(parent[name_] = std::move(value));
  }
  bool Put(Json value) {
    Place(std::move(value));
    return true;
  }
  bool Open(Json container) {
    if (++depth_ > kMaxJsonDepth) return false;
    if (dropped_ > 0) {
      ++dropped_;
    } else if (Json* placed = Place(std::move(container))) {
      open_.push_back(placed);
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

  static constexpr std::size_t kMaxJsonDepth = protocol::kMaxJsonDepth;
  std::vector<Json*> open_;
  std::size_t depth_ = 0;
  std::size_t dropped_ = 0;  // nesting inside a thrown-away member, 0 outside one
  bool dropNext_ = false;
  std::string name_;
};

// Client amounts are read through this text: with the decimal comma, and within its fifteen
// significant digits of the number (read back wider than a double, so that the rounding of the
// largest doubles upwards does not count as an overflow).
void RequireFloatText(double value, const std::string& text) {
  if (!std::isfinite(value)) return;
  Require(text.find('.') == std::string::npos, "a number's text has the decimal comma");
  std::string dotted = text;
  std::replace(dotted.begin(), dotted.end(), ',', '.');
  char* end = nullptr;
  const long double back = std::strtold(dotted.c_str(), &end);
  Require(end == dotted.c_str() + dotted.size(), "a number's text is a number");
  Require(std::fabs(back - value) <= std::fabs(static_cast<long double>(value)) * 1e-14L + 1e-320L,
          "a number's text is the number to fifteen significant digits");
}

// The text form of every value and every required-member lookup of the tree.
void ReadAllAsText(const Json& value) {
  const std::string text = protocol::ValueAsText(value);
  if (value.is_number_float()) RequireFloatText(value.get<double>(), text);
  if (value.is_string())
    Require(text == value.get_ref<const std::string&>(), "a string is its text");
  if (value.is_structured()) Require(text.empty(), "objects and arrays have empty text");
  if (value.is_object()) {
    for (const auto& [name, member] : value.items()) {
      Require(protocol::GetRequiredField(value, name) == protocol::ValueAsText(member),
              "a member's required text is its value's text");
    }
  }
  if (!value.is_structured()) return;
  for (const Json& item : value) ReadAllAsText(item);
}

// The writer's output is printable ASCII, reads back to the value it can carry, and is the same
// text when written again.
void RequireRoundTrip(const Json& value) {
  const std::string written = protocol::WriteJson(value);
  for (const char c : written) {
    const auto byte = static_cast<unsigned char>(c);
    Require(byte >= 0x20 && byte <= 0x7F,
            "WriteJson escapes every control and non-ASCII character");
  }
  const auto reread = protocol::ParseJson(written);
  Require(reread.has_value(), "WriteJson's output parses");
  Require(*reread == Carried(value), "WriteJson's output reads back to an equal value");
  Require(protocol::WriteJson(*reread) == written,
          "writing the value read back gives the same text");
}

}  // namespace
}  // namespace kelvora::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelvora;
  using fuzz::Require;
  using protocol::Json;
  const std::string_view text = fuzz::AsText(data, size);

  const auto parsed = protocol::ParseJson(text);
  fuzz::FirstMemberWinsReference reference;
  const bool accepted = Json::sax_parse(text.begin(), text.end(), &reference);
  Require(parsed.has_value() == accepted, "ParseJson accepts exactly the texts it should");
  if (parsed) {
    Require(*parsed == reference.root, "the first occurrence of a member wins, at every depth");
    fuzz::ReadAllAsText(*parsed);
    fuzz::RequireRoundTrip(*parsed);
  }

  // Any bytes as a string and as a member name: well-formed UTF-8 survives the writer unchanged,
  // anything else still gives JSON that reads back as UTF-8 (U+FFFD for each stray byte).
  const Json strings = Json::array({std::string(text), Json::object({{std::string(text), 1}})});
  if (fuzz::IsWellFormedUtf8(text)) {
    fuzz::RequireRoundTrip(strings);
  } else {
    const auto reread = protocol::ParseJson(protocol::WriteJson(strings));
    Require(reread.has_value(), "WriteJson's output parses, whatever bytes its strings hold");
    Require(fuzz::IsWellFormedUtf8((*reread)[0].get_ref<const std::string&>()) &&
                fuzz::IsWellFormedUtf8((*reread)[1].begin().key()),
            "a written string reads back as UTF-8");
  }

  // Any double: the shortest text that reads back to the same number.
  if (size >= sizeof(double)) {
    double number = 0;
    std::memcpy(&number, data, sizeof number);
    const Json value = number;
    fuzz::RequireRoundTrip(value);
    fuzz::RequireFloatText(number, protocol::ValueAsText(value));
  }
  return 0;
}

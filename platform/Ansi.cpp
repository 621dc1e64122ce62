// Windows-1252 conversion through iconv, one converter pair per thread.
#include "platform/Ansi.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace kelvora::platform {
namespace {

// Owns one iconv descriptor; reset before each use so no shift state leaks between calls.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open failed");
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts the whole input; calls on_error(input position) for a sequence it cannot convert,
  // which must append a replacement and return how many input bytes to skip.
  template <typename OnError>
  std::string Run(std::string_view in, OnError on_error) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    out.reserve(in.size() * 2);
    char* src = const_cast<char*>(in.data());
    size_t src_left = in.size();
    char buffer[1024];
    while (src_left > 0) {
      char* dst = buffer;
      size_t dst_left = sizeof buffer;
      size_t rc = iconv(cd_, &src, &src_left, &dst, &dst_left);
      out.append(buffer, dst - buffer);
      if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
        size_t skip = on_error(std::string_view(src, src_left), out);
        src += skip;
        src_left -= skip;
      }
    }
    return out;
  }

 private:
  iconv_t cd_;
};

// Length of the UTF-8 sequence that starts with this byte (1 for a stray byte).
size_t Utf8SequenceLength(std::string_view rest) {
  unsigned char lead = static_cast<unsigned char>(rest[0]);
  size_t n = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  for (size_t i = 1; i < n; ++i) {
    if (i >= rest.size() || (static_cast<unsigned char>(rest[i]) & 0xC0) != 0x80) return i;
  }
  return n;
}

}  // namespace

AnsiString ToAnsi(std::string_view utf8) {
  thread_local Converter converter("WINDOWS-1252", "UTF-8");
  std::string out = converter.Run(utf8, [](std::string_view rest, std::string& sink) {
    sink.push_back('?');
    return Utf8SequenceLength(rest);
  });
  return AnsiBytes(out);
}

std::string FromAnsi(AnsiStringView ansi) {
  thread_local Converter converter("UTF-8", "WINDOWS-1252");
  return converter.Run(RawBytes(ansi), [](std::string_view rest, std::string& sink) {
    // 0x81, 0x8D, 0x8F, 0x90 and 0x9D: U+0080..U+009F in UTF-8 is C2 followed by the byte.
    sink.push_back(static_cast<char>(0xC2));
    sink.push_back(rest[0]);
    return size_t{1};
  });
}

std::optional<unsigned> SystemAnsiCodePage() {
  return std::nullopt;
}

}  // namespace kelvora::platform

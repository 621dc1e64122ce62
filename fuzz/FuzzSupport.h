// What the fuzz targets share: the failure report libFuzzer records as a crash, a UTF-8 check
// written apart from the service's own so that the two can be held against each other, and a
// scratch file for the readers that only take a path.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kelvora::fuzz {

// The input as text.
inline std::string_view AsText(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Ends the run when an invariant does not hold; libFuzzer keeps the input as a crash artefact.
inline void Require(bool condition, const char* invariant) {
  if (condition) return;
  std::fprintf(stderr, "Invariant violated: %s\n", invariant);
  std::abort();
}

// Well-formed UTF-8 as the Unicode table of well-formed byte sequences lists it: each lead byte
// with the allowed range of its second byte, every later byte 80..BF.
inline bool IsWellFormedUtf8(std::string_view text) {
  struct Form {
    uint8_t leadLow, leadHigh, secondLow, secondHigh;
    size_t length;
  };
  static constexpr Form kForms[] = {
      {0x00, 0x7F, 0x00, 0x00, 1}, {0xC2, 0xDF, 0x80, 0xBF, 2}, {0xE0, 0xE0, 0xA0, 0xBF, 3},
      {0xE1, 0xEC, 0x80, 0xBF, 3}, {0xED, 0xED, 0x80, 0x9F, 3}, {0xEE, 0xEF, 0x80, 0xBF, 3},
      {0xF0, 0xF0, 0x90, 0xBF, 4}, {0xF1, 0xF3, 0x80, 0xBF, 4}, {0xF4, 0xF4, 0x80, 0x8F, 4},
  };
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  size_t i = 0;
  while (i < text.size()) {
    const Form* form = nullptr;
    for (const Form& f : kForms) {
      if (byte(i) >= f.leadLow && byte(i) <= f.leadHigh) form = &f;
    }
    if (form == nullptr || text.size() - i < form->length) return false;
    for (size_t k = 1; k < form->length; ++k) {
      const uint8_t low = k == 1 ? form->secondLow : 0x80;
      const uint8_t high = k == 1 ? form->secondHigh : 0xBF;
      if (byte(i + k) < low || byte(i + k) > high) return false;
    }
    i += form->length;
  }
  return true;
}

// A file of its own, rewritten with each input and removed at exit. It lives in memory (/dev/shm)
// where the system has it: on a disk, replacing a file by rename forces a write-out each time,
// which would slow a run tenfold.
class TempFile {
 public:
  explicit TempFile(const std::string& stem) {
    const std::filesystem::path directory = std::filesystem::is_directory("/dev/shm")
                                                ? std::filesystem::path("/dev/shm")
                                                : std::filesystem::temp_directory_path();
    std::string pattern = (directory / ("kelvora-fuzz-" + stem + "-XXXXXX")).string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("cannot create a scratch file in the temporary directory");
    ::close(fd);
    path_ = pattern;
  }
  ~TempFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& Path() const { return path_; }

  // Replaces the file's content with exactly these bytes.
  void Write(std::string_view bytes) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write the scratch file " + path_);
  }

 private:
  std::string path_;
};

}  // namespace kelvora::fuzz

// The owner-only work folder in which new certificates and configuration files are assembled.
#include "service/PrivateWorkDir.h"

#include <openssl/rand.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <system_error>

#include "platform/FileSystem.h"
#include "platform/PrivateDirectory.h"
#include "platform/Utf8Path.h"

namespace kelvora::service {
namespace {

// A name no other run picks: 12 random hexadecimal digits.
std::string RandomSuffix() {
  unsigned char bytes[6];
  if (RAND_bytes(bytes, sizeof bytes) != 1) throw std::runtime_error("no random bytes available");
  std::string suffix;
  for (unsigned char byte : bytes) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", byte);
    suffix += digits;
  }
  return suffix;
}

}  // namespace

TPrivateWorkDir::TPrivateWorkDir(const std::filesystem::path& parent) {
  namespace fs = std::filesystem;
  path_ = parent / (".kelvora-work-" + RandomSuffix());
  std::error_code error;
  // Made for the owner alone while still empty, so nobody can already hold a file of it open.
  if (!platform::CreateOwnerOnlyDirectory(path_, error)) {
    throw std::runtime_error("cannot create " + path_.string() + ": " + error.message());
  }
}

TPrivateWorkDir::~TPrivateWorkDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TPrivateWorkDir::Write(std::string_view name, std::string_view bytes,
                                             std::filesystem::perms permissions) const {
  const std::filesystem::path file = path_ / platform::PathFromUtf8(name);
  try {
    platform::ReplaceFileBytes(file.string(), bytes, /*durable=*/false);
  } catch (const std::system_error&) {
    throw std::runtime_error("cannot write " + file.string());
  }
  std::error_code error;
  std::filesystem::permissions(file, permissions, std::filesystem::perm_options::replace, error);
  if (error) throw std::runtime_error("cannot set the permissions of " + file.string());
  return file;
}

}  // namespace kelvora::service

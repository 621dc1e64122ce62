// A folder only the current user may enter, beside the files it will replace, where secrets are
// written before they are renamed into place.
#pragma once

#include <filesystem>
#include <string_view>

namespace kelvora::service {

// Created empty inside `parent` and made owner-only before anything is written to it, so that no
// other user can open a file in it while it holds a private key; removed with what is left in it
// when the object goes. On Windows the folder and its files get the service's private access
// list, whatever permissions are asked for.
class TPrivateWorkDir {
 public:
  // Throws std::runtime_error when the folder cannot be made.
  explicit TPrivateWorkDir(const std::filesystem::path& parent);
  ~TPrivateWorkDir();
  TPrivateWorkDir(const TPrivateWorkDir&) = delete;
  TPrivateWorkDir& operator=(const TPrivateWorkDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }

  // Writes bytes to a new file of this folder with the given permissions and returns its path.
  // Throws std::runtime_error when the file cannot be written completely.
  std::filesystem::path Write(std::string_view name, std::string_view bytes,
                              std::filesystem::perms permissions) const;

 private:
  std::filesystem::path path_;
};

}  // namespace kelvora::service

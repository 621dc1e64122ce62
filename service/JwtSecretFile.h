// Gives an installation its own token key: a random [security] jwt_secret written into the
// configuration file, made by the service because an installer has no sound random source.
#pragma once

#include <filesystem>
#include <string>

namespace kelvora::service {

// 32 ASCII letters and digits drawn without bias from OpenSSL's random generator.
std::string NewJwtSecret();

enum class TJwtSecretResult { Written, Kept };

// Writes a new key as [security] jwt_secret into iniFile (made when missing) unless the file
// already sets one: a key in use is never replaced, because the sales system signs with it. The
// key goes on the empty jwt_secret line when there is one, else right under the first [security]
// header, else into a [security] section added at the end; every other byte and the file's line
// ends are kept, and the file is replaced by a rename so it never holds half a key. A new file
// gets owner-only permissions, an existing one keeps its own. Throws std::runtime_error when the
// file sets a value that is not a valid key (the service would ignore it), or when it cannot be
// written.
TJwtSecretResult EnsureJwtSecret(const std::filesystem::path& iniFile);

}  // namespace kelvora::service

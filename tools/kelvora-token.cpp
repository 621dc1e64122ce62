// kelvora-token: mints the signed session token a sales system hands to the point-of-sale page, for
// integrators, demos and tests.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/IniFile.h"
#include "platform/ProgramArguments.h"
#include "platform/Utf8Path.h"
#include "protocol/Json.h"
#include "protocol/JwtSecret.h"
#include "tokens/Jose.h"
#include "tokens/Secret.h"

namespace {

using kelvora::protocol::Json;

constexpr std::string_view kUsage =
    R"(Usage: kelvora-token KEY [--alg HS256|HS384|HS512] [--ttl SECONDS] [--claims JSON]
                     [claim options...]

Prints a session token for the Kelvora TEF Server: a compact JWS signed with HMAC-SHA-2, which a
page presents in its "/session/start" request as "token".

The key (one is required; a token signed with any other key is refused by the service):
  --config FILE       the key the service reads from FILE, its configuration file
                      (SvcKelvoraSiTef.ini, [security] jwt_secret)
  --secret-file FILE  the key in FILE (its first line)
  KELVORA_JWT_SECRET  the key in this environment variable, when no option names one
  --builtin-secret    the built-in key, which the service uses while its configuration file sets
                      no jwt_secret: every installation shares it, so use it for trials only
  --secret S          the key S itself; other users of this machine can read it from the
                      process list, so a warning is printed
Every key is exactly 32 ASCII letters and digits; any other is refused.

Signing:
  --alg A          HS256 (default), HS384 or HS512; the service verifies all three.

Claims, as a JSON object, as options, or both (an option replaces the member of the same name):
  --claims JSON                  the claims object, e.g. '{"sale_id":"42",...}'
  --secctional-code N            "secctional_code": SiTef sectional code; the terminal number is
                                 AG + N (4 digits) + the service's [sitef] pdv_number (2 digits)
  --ip-address A                 "ip_address": the SiTef server address
  --store-code S                 "store_code": the SiTef store code
  --additional-parameters P      "additional_parameters": CliSiTef parameters, one per line
  --operator O                   "operator": the operator id
  --sale-id N                    "sale_id": the sale, an integer greater than 0
  --company-id N                 "company_id": the company, an integer
  --callback-url U               "callback_url": the sales API base address, not blank
Claim options are written as JSON strings, as the sales system sends them. The service requires
all eight claims. The token is minted with whatever claims are given (an "exp" or "nbf" too,
through --claims), so tokens a session start refuses can be made on purpose.

Expiry:
  --ttl SECONDS    adds "exp", the moment the token expires, that many seconds from now: 43200
                   (12 hours) by default, 0 for none. An "exp" given in --claims is kept as it is.

  --help           this text
)";

// Claim options and the claim each one sets.
const std::map<std::string_view, std::string_view> kClaimOptions = {
    {"--secctional-code", "secctional_code"},
    {"--ip-address", "ip_address"},
    {"--store-code", "store_code"},
    {"--additional-parameters", "additional_parameters"},
    {"--operator", "operator"},
    {"--sale-id", "sale_id"},
    {"--company-id", "company_id"},
    {"--callback-url", "callback_url"},
};

// Where the signing key comes from; the tool never falls back to one it was not told to use.
enum class KeySource { None, Config, SecretFile, Builtin, Secret };

struct Options {
  kelvora::tokens::TJOSEAlgorithm Algorithm = kelvora::tokens::TJOSEAlgorithm::HS256;
  KeySource Source = KeySource::None;
  std::string KeyArgument;  // the file of --config or --secret-file, or the key of --secret
  Json Claims = Json::object();
  // A token that never expires stays usable by whoever copies it, so one is only made on request.
  int64_t TtlSeconds = 12 * 60 * 60;
  bool Help = false;
};

// Reads the command line; throws std::invalid_argument with the reason for anything wrong.
Options ParseOptions(std::span<char*> arguments) {
  Options options;
  std::vector<std::pair<std::string, std::string>> claimOptions;
  std::string keyOption;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= arguments.size()) {
        throw std::invalid_argument(std::string(argument) + " needs a value");
      }
      return arguments[++i];
    };
    // Two key options would leave a reader guessing which one signed the token.
    const auto keyFrom = [&](KeySource source) {
      if (options.Source != KeySource::None) {
        throw std::invalid_argument(keyOption + " and " + std::string(argument) +
                                    " exclude each other");
      }
      options.Source = source;
      keyOption = argument;
    };
    if (argument == "--help" || argument == "-h") {
      options.Help = true;
    } else if (argument == "--alg") {
      const std::string name = value();
      const auto algorithm = kelvora::tokens::AlgorithmFromName(name);
      if (!algorithm) throw std::invalid_argument("unsupported --alg " + name);
      options.Algorithm = *algorithm;
    } else if (argument == "--secret") {
      keyFrom(KeySource::Secret);
      options.KeyArgument = value();
    } else if (argument == "--secret-file") {
      keyFrom(KeySource::SecretFile);
      options.KeyArgument = value();
    } else if (argument == "--config") {
      keyFrom(KeySource::Config);
      options.KeyArgument = value();
    } else if (argument == "--builtin-secret") {
      keyFrom(KeySource::Builtin);
    } else if (argument == "--claims") {
      const std::optional<Json> claims = kelvora::protocol::ParseJson(value());
      if (!claims || !claims->is_object()) {
        throw std::invalid_argument("--claims needs a JSON object");
      }
      options.Claims = *claims;
    } else if (argument == "--ttl") {
      const std::string seconds = value();
      const char* const end = seconds.data() + seconds.size();
      const auto [last, error] = std::from_chars(seconds.data(), end, options.TtlSeconds);
      // Bounded well below the largest number, so that now + ttl cannot overflow.
      if (error != std::errc() || last != end || options.TtlSeconds < 0 ||
          options.TtlSeconds > std::numeric_limits<int64_t>::max() / 2) {
        throw std::invalid_argument("--ttl needs a number of seconds, 0 or more");
      }
    } else if (const auto claim = kClaimOptions.find(argument); claim != kClaimOptions.end()) {
      claimOptions.emplace_back(claim->second, value());
    } else {
      throw std::invalid_argument("unknown argument: " + std::string(argument));
    }
  }
  for (const auto& [name, text] : claimOptions) {
    options.Claims.erase(name);
    options.Claims[name] = text;
  }
  return options;
}

// The whole content of a file; throws std::runtime_error when it cannot be read.
std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(kelvora::platform::PathFromUtf8(path), std::ios::binary);
  std::ostringstream content;
  if (in) content << in.rdbuf();
  if (!in || in.bad()) throw std::runtime_error("cannot read " + path);
  return content.str();
}

// The key named on the command line or in the environment, checked to have the form every key of
// the service has. Throws std::runtime_error with the reason when there is none or it is unusable.
std::string SigningSecret(const Options& options) {
  std::string key;
  std::string origin;
  switch (options.Source) {
    case KeySource::Builtin:
      return std::string(kelvora::tokens::kDefaultJwtSecret);
    case KeySource::Secret:
      std::fputs(
          "kelvora-token: warning: a key given with --secret is visible to other users of this "
          "machine; prefer --config, --secret-file or KELVORA_JWT_SECRET\n",
          stderr);
      key = options.KeyArgument;
      origin = "--secret";
      break;
    case KeySource::SecretFile: {
      key = ReadWholeFile(options.KeyArgument);
      // A file written by an editor or by echo ends with a line break that is not part of the key.
      if (key.ends_with('\n')) key.pop_back();
      if (key.ends_with('\r')) key.pop_back();
      origin = options.KeyArgument;
      break;
    }
    case KeySource::Config: {
      ReadWholeFile(options.KeyArgument);  // a missing file must not read as an empty key
      const kelvora::platform::TIniFile config(
          kelvora::platform::PathFromUtf8(options.KeyArgument));
      key = config.ReadString(kelvora::protocol::kJwtSecretSection,
                              kelvora::protocol::kJwtSecretKey, "");
      if (key.empty()) {
        throw std::runtime_error(options.KeyArgument +
                                 " sets no [security] jwt_secret; the service then uses the "
                                 "built-in key, which --builtin-secret signs with");
      }
      origin = "[security] jwt_secret of " + options.KeyArgument;
      break;
    }
    case KeySource::None: {
      const char* environment = std::getenv("KELVORA_JWT_SECRET");
      if (environment == nullptr) {
        throw std::runtime_error(
            "no signing key: give --config FILE, --secret-file FILE, KELVORA_JWT_SECRET or "
            "--builtin-secret (see kelvora-token --help)");
      }
      key = environment;
      origin = "KELVORA_JWT_SECRET";
      break;
    }
  }
  if (!kelvora::protocol::IsValidJwtSecret(key)) {
    throw std::runtime_error("the key of " + origin + " is not 32 ASCII letters and digits");
  }
  return key;
}

}  // namespace

int main(int argc, char** argv) {
  // UTF-8 on every system: file names and claim texts may carry accented letters.
  std::vector<std::string> text = kelvora::platform::ProgramArguments(argc, argv);
  std::vector<char*> words;
  for (size_t i = 1; i < text.size(); ++i) words.push_back(text[i].data());
  Options options;
  try {
    options = ParseOptions(words);
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "kelvora-token: %s (see kelvora-token --help)\n", e.what());
    return 2;
  }
  if (options.Help) {
    std::fputs(kUsage.data(), stdout);
    return 0;
  }
  try {
    kelvora::tokens::TJWT token;
    token.Claims = options.Claims;
    if (options.TtlSeconds > 0 && !token.Claims.contains("exp")) {
      token.Claims["exp"] = static_cast<int64_t>(std::time(nullptr)) + options.TtlSeconds;
    }
    const kelvora::tokens::TJWK key(SigningSecret(options));
    std::printf("%s\n", kelvora::tokens::SignToken(key, options.Algorithm, token).c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kelvora-token: %s\n", e.what());
    return 1;
  }
}

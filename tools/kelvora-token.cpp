// kelvora-token: mints the signed session token a sales system hands to the point-of-sale page, for
// integrators, demos and tests.
#include <cstdio>
#include <exception>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/IniFile.h"
#include "protocol/Json.h"
#include "protocol/JwtSecret.h"
#include "tokens/Jose.h"
#include "tokens/Secret.h"

namespace {

using kelvora::protocol::Json;

constexpr std::string_view kUsage =
    R"(Usage: kelvora-token [--alg HS256|HS384|HS512] [--secret S | --config FILE]
                     [--claims JSON] [claim options...]

Prints a session token for the Kelvora TEF Server: a compact JWS signed with HMAC-SHA-2, which a
page presents in its "/session/start" request as "token".

Signing:
  --alg A          HS256 (default), HS384 or HS512; the service verifies all three.
  --secret S       sign with S (its UTF-8 bytes are the key). To be accepted, S must be the
                   service's secret.
  --config FILE    sign with the secret the service reads from FILE, its configuration file
                   (SvcKelvoraSiTef.ini): [security] jwt_secret when it is 32 ASCII letters and
                   digits, the built-in secret otherwise.
  Without either, the built-in secret, which the service uses while its configuration file sets
  no jwt_secret.

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
all eight claims; it checks no expiry or other registered claim. The token is minted with
whatever claims are given, so tokens a session start refuses can be made on purpose.

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

struct Options {
  kelvora::tokens::TJOSEAlgorithm Algorithm = kelvora::tokens::TJOSEAlgorithm::HS256;
  std::optional<std::string> Secret;
  std::optional<std::string> ConfigFile;
  Json Claims = Json::object();
  bool Help = false;
};

// Reads the command line; throws std::invalid_argument with the reason for anything wrong.
Options ParseOptions(std::span<char*> arguments) {
  Options options;
  std::vector<std::pair<std::string, std::string>> claimOptions;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= arguments.size()) {
        throw std::invalid_argument(std::string(argument) + " needs a value");
      }
      return arguments[++i];
    };
    if (argument == "--help" || argument == "-h") {
      options.Help = true;
    } else if (argument == "--alg") {
      const std::string name = value();
      const auto algorithm = kelvora::tokens::AlgorithmFromName(name);
      if (!algorithm) throw std::invalid_argument("unsupported --alg " + name);
      options.Algorithm = *algorithm;
    } else if (argument == "--secret") {
      options.Secret = value();
    } else if (argument == "--config") {
      options.ConfigFile = value();
    } else if (argument == "--claims") {
      const std::optional<Json> claims = kelvora::protocol::ParseJson(value());
      if (!claims || !claims->is_object()) {
        throw std::invalid_argument("--claims needs a JSON object");
      }
      options.Claims = *claims;
    } else if (const auto claim = kClaimOptions.find(argument); claim != kClaimOptions.end()) {
      claimOptions.emplace_back(claim->second, value());
    } else {
      throw std::invalid_argument("unknown argument: " + std::string(argument));
    }
  }
  if (options.Secret && options.ConfigFile) {
    throw std::invalid_argument("--secret and --config exclude each other");
  }
  for (const auto& [name, text] : claimOptions) {
    options.Claims.erase(name);
    options.Claims[name] = text;
  }
  return options;
}

// The secret the token is signed with: given, read like the service reads it, or built in.
std::string SigningSecret(const Options& options) {
  if (options.Secret) return *options.Secret;
  if (options.ConfigFile) {
    const kelvora::platform::TIniFile config(*options.ConfigFile);
    // The service refuses every session under an unusable key, so no token is minted for it.
    const kelvora::protocol::TJwtSecret secret = kelvora::protocol::ReadJwtSecret(config);
    if (!secret.Key) {
      throw std::runtime_error(
          "jwt_secret in " + *options.ConfigFile +
          " is not 32 ASCII letters and digits; the service refuses every session until it is");
    }
    return *secret.Key;
  }
  return std::string(kelvora::tokens::kDefaultJwtSecret);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    options = ParseOptions(std::span<char*>(argv + 1, argc - 1));
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
    const kelvora::tokens::TJWK key(SigningSecret(options));
    std::printf("%s\n", kelvora::tokens::SignToken(key, options.Algorithm, token).c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kelvora-token: %s\n", e.what());
    return 1;
  }
}

<?php
// Mints the session token a sales system's back end hands to its point-of-sale page: a compact JWS
// (HS256) signed with the installation's [security] jwt_secret, which the Kelvora TEF Server checks
// at "/session/start". PHP's standard library only.
//
//   KELVORA_JWT_SECRET=... php session_token.php [--ttl SECONDS] name=value...
//
// prints a token for the given claims; without --ttl it expires ten minutes after it is made.
declare(strict_types=1);

namespace Kelvora\Samples;

// The claims the service requires; it reads each one as text.
const REQUIRED_CLAIMS = [
    'secctional_code', 'ip_address', 'store_code', 'additional_parameters',
    'operator', 'sale_id', 'company_id', 'callback_url',
];
// The page presents its token right after it loads; a short life leaves little use to a copy.
const DEFAULT_TTL_SECONDS = 600;
const MAX_TTL_SECONDS = 12 * 60 * 60;
// The service refuses a claim longer than 2 KiB and a token longer than 16 KiB.
const MAX_CLAIM_BYTES = 2048;
const MAX_TOKEN_LENGTH = 16 * 1024;
const INT32_MAX = 2147483647;

// Throws unless the key can be the service's: 32 ASCII letters and digits, used as the HMAC key as
// they are.
function checkSecret(mixed $secret): void
{
    if (!is_string($secret) || preg_match('/^[A-Za-z0-9]{32}$/D', $secret) !== 1) {
        throw new \InvalidArgumentException('the key must be 32 ASCII letters and digits');
    }
}

function checkInteger(array $claims, string $name, int $min): void
{
    $text = $claims[$name];
    if (preg_match('/^[0-9]{1,10}$/D', $text) !== 1 || (int) $text < $min || (int) $text > INT32_MAX) {
        throw new \InvalidArgumentException(sprintf('claim "%s" must be an integer from %d to %d', $name, $min, INT32_MAX));
    }
}

// Throws with the reason for a claim set the service would refuse: a required claim missing, any
// claim not text or over 2 KiB, a sale or company id that is not a decimal integer (the sale's
// above 0), a callback address that is not http or https with a host and nothing after a "?", "#"
// or "@".
function checkClaims(array $claims): void
{
    foreach (REQUIRED_CLAIMS as $name) {
        if (!array_key_exists($name, $claims)) {
            throw new \InvalidArgumentException(sprintf('missing claim "%s"', $name));
        }
    }
    foreach ($claims as $name => $value) {
        if (!is_string($value)) {
            throw new \InvalidArgumentException(sprintf('claim "%s" must be text', $name));
        }
        if (strlen($value) > MAX_CLAIM_BYTES) {
            throw new \InvalidArgumentException(sprintf('claim "%s" is over 2 KiB', $name));
        }
    }
    checkInteger($claims, 'sale_id', 1);
    checkInteger($claims, 'company_id', 0);
    if (preg_match('~^https?://[^\s/?#@]+(/[^\s?#]*)?$~D', $claims['callback_url']) !== 1) {
        throw new \InvalidArgumentException('claim "callback_url" must be an http or https address');
    }
}

function base64url(string $bytes): string
{
    return rtrim(strtr(base64_encode($bytes), '+/', '-_'), '=');
}

// The token for $claims (texts, UTF-8), expiring $ttlSeconds after now. No "nbf": a till whose
// clock lags the back end's would refuse a token that is not valid yet.
function mintSessionToken(array $claims, mixed $secret, int $ttlSeconds = DEFAULT_TTL_SECONDS, ?int $nowSeconds = null): string
{
    checkSecret($secret);
    checkClaims($claims);
    if ($ttlSeconds < 1 || $ttlSeconds > MAX_TTL_SECONDS) {
        throw new \InvalidArgumentException(sprintf('the lifetime must be 1 to %d seconds', MAX_TTL_SECONDS));
    }
    $claims['exp'] = ($nowSeconds ?? time()) + $ttlSeconds;
    // Text that is not UTF-8 throws here rather than going out as a broken token.
    $json = fn (array $value): string => json_encode($value, JSON_UNESCAPED_SLASHES | JSON_UNESCAPED_UNICODE | JSON_THROW_ON_ERROR);
    $signingInput = base64url($json(['alg' => 'HS256', 'typ' => 'JWT'])) . '.' . base64url($json($claims));
    $token = $signingInput . '.' . base64url(hash_hmac('sha256', $signingInput, $secret, true));
    if (strlen($token) > MAX_TOKEN_LENGTH) {
        throw new \InvalidArgumentException('the token is over 16 KiB');
    }
    return $token;
}

// The command line: --ttl SECONDS and name=value claims; the key from KELVORA_JWT_SECRET, so that
// it never shows in the process list.
function main(array $args): void
{
    $claims = [];
    $ttlSeconds = DEFAULT_TTL_SECONDS;
    for ($i = 0; $i < count($args); $i++) {
        if ($args[$i] === '--ttl') {
            $value = $args[++$i] ?? '';
            $ttlSeconds = preg_match('/^[0-9]{1,6}$/D', $value) === 1 ? (int) $value : -1;
        } elseif (str_contains($args[$i], '=')) {
            [$name, $value] = explode('=', $args[$i], 2);
            $claims[$name] = $value;
        } else {
            throw new \InvalidArgumentException('unknown argument: ' . $args[$i]);
        }
    }
    echo mintSessionToken($claims, getenv('KELVORA_JWT_SECRET'), $ttlSeconds), "\n";
}

if (PHP_SAPI === 'cli' && realpath($_SERVER['argv'][0] ?? '') === __FILE__) {
    try {
        main(array_slice($_SERVER['argv'], 1));
    } catch (\InvalidArgumentException | \JsonException $error) {
        fwrite(STDERR, 'session-token: ' . $error->getMessage() . "\n");
        exit(2);
    }
}

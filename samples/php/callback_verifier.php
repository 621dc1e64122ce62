<?php
// Checks a report of an approved payment from the Kelvora TEF Server before the sales system trusts
// it: the v2 of the Kelvora-Signature header ("t=<unix seconds>,v1=<hex>,v2=<hex>") must be the
// HMAC-SHA-256 of "<t>.<event id>.<request path>.<exact bytes received>" under the report key, and
// t at most five minutes away from now; Kelvora-Event-Id names the report, the same on every retry
// of it, and the payment is known again by its "nsu_code". PHP's standard library only.
declare(strict_types=1);

namespace Kelvora\Samples;

// How far the signing time may be from the receiver's clock, either way.
const TOLERANCE_SECONDS = 5 * 60;

// The reasons for a refusal, as the receiver answers them (the service logs them).
const NO_SIGNATURE = 'Cabeçalho Kelvora-Signature ausente.';
const BAD_SIGNATURE_HEADER = 'Cabeçalho Kelvora-Signature malformado.';
const BAD_EVENT_ID = 'Cabeçalho Kelvora-Event-Id ausente ou inválido.';
const MISMATCH = 'Assinatura não confere.';
const OUTSIDE_TOLERANCE = 'Assinatura fora da tolerância de 5 minutos.';

// The text whose HMAC under jwt_secret is the report key of a service without a signing_secret.
const REPORT_KEY_LABEL = 'kelvora sales-api report signature v2';

// The key v2 is checked with: the bytes of the service's [sales_api] signing_secret when it has one
// (32 to 128 visible ASCII characters), else the 32 raw bytes of HMAC-SHA-256 of REPORT_KEY_LABEL
// under its [security] jwt_secret. Throws for a key the service could not have. The report key
// verifies reports but mints no session token.
function reportKey(mixed $signingSecret, mixed $jwtSecret): string
{
    if (is_string($signingSecret) && $signingSecret !== '') {
        if (preg_match('/^[\x21-\x7e]{32,128}$/D', $signingSecret) !== 1) {
            throw new \InvalidArgumentException('the signing secret must be 32 to 128 visible ASCII characters');
        }
        return $signingSecret;
    }
    checkSecret($jwtSecret);
    return hash_hmac('sha256', REPORT_KEY_LABEL, $jwtSecret, true);
}

// The time (as signed) and the lower-case v2 signatures of a Kelvora-Signature header, or null
// when it is not one: exactly one "t" of decimal digits, one or more "v2" of 64 hex digits, any
// "v1" of 64 hex digits (v1 covers neither the event id nor the address, so it is not checked
// here); other schemes are left for later versions to use.
function parseSignatureHeader(string $header): ?array
{
    $time = null;
    $signatures = [];
    foreach (explode(',', $header) as $item) {
        $parts = explode('=', $item, 2);
        if (count($parts) !== 2) {
            return null;
        }
        [$key, $value] = $parts;
        if ($key === 't') {
            if ($time !== null || preg_match('/^[0-9]{1,15}$/D', $value) !== 1) {
                return null;
            }
            $time = $value;
        } elseif ($key === 'v1' || $key === 'v2') {
            if (preg_match('/^[0-9a-fA-F]{64}$/D', $value) !== 1) {
                return null;
            }
            if ($key === 'v2') {
                $signatures[] = strtolower($value);
            }
        }
    }
    return $time !== null && $signatures !== [] ? ['time' => $time, 'signatures' => $signatures] : null;
}

// An event id as the service makes them: 1 to 64 letters, digits, "-", "_" and ".".
function isValidEventId(mixed $eventId): bool
{
    return is_string($eventId) && preg_match('/^[A-Za-z0-9._-]{1,64}$/D', $eventId) === 1;
}

// The refusal reason for a report, or null when its signature is good. $rawBody is the bytes
// received, before any parsing: a receiver that parsed and wrote them again would sign other bytes
// than the service did. $requestPath is the path of the request line as received (no query), token
// segment included: a report posted to another address does not match.
function checkCallback(string $key, string $rawBody, ?string $signatureHeader, ?string $eventId, string $requestPath, ?int $nowSeconds = null): ?string
{
    if ($signatureHeader === null || $signatureHeader === '') {
        return NO_SIGNATURE;
    }
    $parsed = parseSignatureHeader($signatureHeader);
    if ($parsed === null) {
        return BAD_SIGNATURE_HEADER;
    }
    if (!isValidEventId($eventId)) {
        return BAD_EVENT_ID;
    }
    $expected = hash_hmac('sha256', $parsed['time'] . '.' . $eventId . '.' . $requestPath . '.' . $rawBody, $key);
    // hash_equals takes as long wherever the texts differ, so a forger learns nothing from timing.
    $matches = array_filter($parsed['signatures'], fn (string $signature): bool => hash_equals($expected, $signature));
    if ($matches === []) {
        return MISMATCH;
    }
    if (abs(($nowSeconds ?? time()) - (int) $parsed['time']) > TOLERANCE_SECONDS) {
        return OUTSIDE_TOLERANCE;
    }
    return null;
}

// The "nsu_code" of each payment in a report whose signature has passed (none when the body is not
// a report).
function nsuCodes(string $rawBody): array
{
    $report = json_decode($rawBody, true, 512, JSON_INVALID_UTF8_SUBSTITUTE);
    $elements = is_array($report) && is_array($report['transaction_data'] ?? null) ? $report['transaction_data'] : [];
    $codes = [];
    foreach ($elements as $element) {
        if (is_array($element) && is_string($element['nsu_code'] ?? null)) {
            $codes[] = $element['nsu_code'];
        }
    }
    return $codes;
}

// The reports taken so far, with the payment id each one was given, by event id and by the NSU of
// each payment in it. PHP forgets everything between two requests, so the sample keeps them in a
// file, one report a line (a JSON object) under a lock, and a report's payment id follows from its
// line; a real sales system keeps both in its database, unique keys on the payment it records in
// the same transaction (and, taking payments of several acquirers, the NSU with the acquirer's
// code).
final class TakenReports
{
    public function __construct(private string $file)
    {
    }

    // The payment id of the report with this event id and these NSUs (a new one the first time),
    // and whether it was taken before: under this event id (a retry), or under another with one of
    // its NSUs (the same payment reported again). Take only reports whose signature was good, or a
    // forger could block a real report by sending its id or NSU first.
    public function take(string $eventId, array $nsus): array
    {
        $handle = fopen($this->file, 'c+');
        if ($handle === false || !flock($handle, LOCK_EX)) {
            throw new \RuntimeException('cannot open ' . $this->file);
        }
        try {
            $lines = array_values(array_filter(explode("\n", stream_get_contents($handle)), 'strlen'));
            foreach ($lines as $number => $line) {
                $taken = json_decode($line, true, 512, JSON_THROW_ON_ERROR);
                if ($taken['event'] === $eventId || array_intersect($nsus, $taken['nsus']) !== []) {
                    return ['paymentId' => 1000 + $number, 'repeated' => true];
                }
            }
            fseek($handle, 0, SEEK_END);
            fwrite($handle, json_encode(['event' => $eventId, 'nsus' => $nsus], JSON_THROW_ON_ERROR) . "\n");
            fflush($handle);
            return ['paymentId' => 1000 + count($lines), 'repeated' => false];
        } finally {
            flock($handle, LOCK_UN);
            fclose($handle);
        }
    }
}

<?php
// Checks a report of an approved payment from the Kelvora TEF Server before the sales system trusts
// it: the Kelvora-Signature header ("t=<unix seconds>,v1=<hex HMAC-SHA-256>") must match the exact
// bytes received, keyed with the installation's jwt_secret, and be at most five minutes away from
// now; Kelvora-Event-Id names the report, the same on every retry of it. PHP's standard library
// only.
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

// The time (as signed) and the lower-case v1 signatures of a Kelvora-Signature header, or null
// when it is not one: exactly one "t" of decimal digits, one or more "v1" of 64 hex digits; other
// schemes are left for later versions to use.
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
        } elseif ($key === 'v1') {
            if (preg_match('/^[0-9a-fA-F]{64}$/D', $value) !== 1) {
                return null;
            }
            $signatures[] = strtolower($value);
        }
    }
    return $time !== null && $signatures !== [] ? ['time' => $time, 'signatures' => $signatures] : null;
}

// An event id as the service makes them: 1 to 64 letters, digits, "-", "_" and ".".
function isValidEventId(mixed $eventId): bool
{
    return is_string($eventId) && preg_match('/^[A-Za-z0-9._-]{1,64}$/D', $eventId) === 1;
}

// The refusal reason for a report ($rawBody: the bytes received, before any parsing), or null when
// its signature is good. The body is never decoded here: a receiver that parsed and wrote it again
// would sign other bytes than the service did.
function checkCallback(string $secret, string $rawBody, ?string $signatureHeader, ?string $eventId, ?int $nowSeconds = null): ?string
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
    $expected = hash_hmac('sha256', $parsed['time'] . '.' . $rawBody, $secret);
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

// The reports taken so far, by event id, with the payment id each one was given. PHP forgets
// everything between two requests, so the sample keeps the ids in a file, one a line under a lock,
// and a report's payment id follows from its line; a real sales system keeps the event id in its
// database, a unique key on the payment it records.
final class TakenReports
{
    public function __construct(private string $file)
    {
    }

    // The payment id of the report with this event id (a new one the first time), and whether the
    // report was taken before. Take only reports whose signature was good, or a forger could block
    // a real report by sending its id first.
    public function take(string $eventId): array
    {
        $handle = fopen($this->file, 'c+');
        if ($handle === false || !flock($handle, LOCK_EX)) {
            throw new \RuntimeException('cannot open ' . $this->file);
        }
        try {
            $ids = array_values(array_filter(explode("\n", stream_get_contents($handle)), 'strlen'));
            $line = array_search($eventId, $ids, true);
            if ($line !== false) {
                return ['paymentId' => 1000 + $line, 'repeated' => true];
            }
            fseek($handle, 0, SEEK_END);
            fwrite($handle, $eventId . "\n");
            fflush($handle);
            return ['paymentId' => 1000 + count($ids), 'repeated' => false];
        } finally {
            flock($handle, LOCK_UN);
            fclose($handle);
        }
    }
}

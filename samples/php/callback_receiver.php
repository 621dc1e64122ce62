<?php
// A tiny sales API that takes the Kelvora TEF Server's reports of approved payments at
// POST /v1/sales/tef/callback/<token>, checks each one with callback_verifier.php and answers as
// the service expects: 201 {"data": <payment id>} for a new report, 200 with the same id and
// "duplicate": true for a repeat (its event id, or its payment's NSU, taken before), 4xx with the
// reason for one it refuses. The key is the service's [sales_api] signing_secret when it has one,
// else derived from its jwt_secret (KELVORA_JWT_SECRET instead of KELVORA_SIGNING_SECRET below).
// Served by PHP's own web server here, by any other in production:
//
//   KELVORA_SIGNING_SECRET=... KELVORA_TAKEN_REPORTS_FILE=/var/tmp/kelvora-reports \
//     php -S 127.0.0.1:8090 callback_receiver.php
declare(strict_types=1);

namespace Kelvora\Samples;

require __DIR__ . '/session_token.php';
require __DIR__ . '/callback_verifier.php';

// Reports are a few KiB; a larger body is refused before it is read.
const MAX_BODY_BYTES = 1024 * 1024;

function answer(int $status, array $body): void
{
    http_response_code($status);
    header('Content-Type: application/json; charset=utf-8');
    echo json_encode($body, JSON_UNESCAPED_UNICODE);
}

// The file of the reports taken, which the receiver must be given: a default shared by every copy would
// mix the ids of unrelated installations.
function takenReportsFile(): string
{
    $file = getenv('KELVORA_TAKEN_REPORTS_FILE');
    if (!is_string($file) || $file === '') {
        throw new \RuntimeException('KELVORA_TAKEN_REPORTS_FILE is not set');
    }
    return $file;
}

function receive(): void
{
    // A receiver without its key or its file fails with 500, which the service posts again later.
    $key = reportKey(getenv('KELVORA_SIGNING_SECRET'), getenv('KELVORA_JWT_SECRET'));
    takenReportsFile();
    if (preg_match('~^/v1/sales/tef/callback/[^/?#]+$~D', $_SERVER['REQUEST_URI']) !== 1) {
        answer(404, ['message' => 'Não encontrado.']);
        return;
    }
    if ($_SERVER['REQUEST_METHOD'] !== 'POST') {
        answer(405, ['message' => 'Método não permitido.']);
        return;
    }
    if ((int) ($_SERVER['CONTENT_LENGTH'] ?? 0) > MAX_BODY_BYTES) {
        answer(413, ['message' => 'Corpo grande demais.']);
        return;
    }
    // php://input holds the bytes as received; $_POST would be a parsed copy.
    $rawBody = (string) file_get_contents('php://input', false, null, 0, MAX_BODY_BYTES + 1);
    if (strlen($rawBody) > MAX_BODY_BYTES) {
        answer(413, ['message' => 'Corpo grande demais.']);
        return;
    }
    $eventId = $_SERVER['HTTP_KELVORA_EVENT_ID'] ?? null;
    $reason = checkCallback($key, $rawBody, $_SERVER['HTTP_KELVORA_SIGNATURE'] ?? null, $eventId, $_SERVER['REQUEST_URI']);
    if ($reason !== null) {
        answer(in_array($reason, [MISMATCH, OUTSIDE_TOLERANCE], true) ? 401 : 400, ['message' => $reason]);
        return;
    }
    // Here, and not before, a sales system parses $rawBody and records the payment with its event id
    // and its NSU.
    $taken = (new TakenReports(takenReportsFile()))->take($eventId, nsuCodes($rawBody));
    if ($taken['repeated']) {
        answer(200, ['data' => $taken['paymentId'], 'duplicate' => true]);
        return;
    }
    answer(201, ['data' => $taken['paymentId']]);
}

receive();

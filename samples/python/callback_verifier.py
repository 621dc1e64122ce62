"""Checks a report of an approved payment from the Kelvora TEF Server before the sales system
trusts it: the v2 of the Kelvora-Signature header ("t=<unix seconds>,v1=<hex>,v2=<hex>") must be
the HMAC-SHA-256 of "<t>.<event id>.<request path>.<exact bytes received>" under the report key,
and t at most five minutes away from now; Kelvora-Event-Id names the report, the same on every
retry of it, and the payment is known again by its "nsu_code". Python's standard library only."""
import hashlib
import hmac
import json
import re
import threading
import time

from session_token import check_secret

# How far the signing time may be from the receiver's clock, either way.
TOLERANCE_SECONDS = 5 * 60

# The reasons for a refusal, as the receiver answers them (the service logs them).
NO_SIGNATURE = "Cabeçalho Kelvora-Signature ausente."
BAD_SIGNATURE_HEADER = "Cabeçalho Kelvora-Signature malformado."
BAD_EVENT_ID = "Cabeçalho Kelvora-Event-Id ausente ou inválido."
MISMATCH = "Assinatura não confere."
OUTSIDE_TOLERANCE = "Assinatura fora da tolerância de 5 minutos."

# The text whose HMAC under jwt_secret is the report key of a service without a signing_secret.
REPORT_KEY_LABEL = b"kelvora sales-api report signature v2"


def report_key(signing_secret=None, jwt_secret=None):
    """The key v2 is checked with: the bytes of the service's [sales_api] signing_secret when it
    has one (32 to 128 visible ASCII characters), else the 32 raw bytes of HMAC-SHA-256 of
    REPORT_KEY_LABEL under its [security] jwt_secret. Raises ValueError for a key the service could
    not have. The report key verifies reports but mints no session token."""
    if signing_secret:
        if not re.fullmatch(r"[\x21-\x7e]{32,128}", signing_secret, re.ASCII):
            raise ValueError("the signing secret must be 32 to 128 visible ASCII characters")
        return signing_secret.encode("ascii")
    check_secret(jwt_secret)
    return hmac.new(jwt_secret.encode("ascii"), REPORT_KEY_LABEL, hashlib.sha256).digest()


def parse_signature_header(header):
    """The time (as signed) and the v2 signatures of a Kelvora-Signature header, or None when it
    is not one: exactly one "t" of decimal digits, one or more "v2" of 64 hex digits, any "v1" of
    64 hex digits (v1 covers neither the event id nor the address, so it is not checked here);
    other schemes are left for later versions to use."""
    time_text = None
    signatures = []
    for item in header.split(","):
        key, equals, value = item.partition("=")
        if not equals:
            return None
        if key == "t":
            if time_text is not None or not re.fullmatch(r"[0-9]{1,15}", value, re.ASCII):
                return None
            time_text = value
        elif key in ("v1", "v2"):
            if not re.fullmatch(r"[0-9a-fA-F]{64}", value, re.ASCII):
                return None
            if key == "v2":
                signatures.append(bytes.fromhex(value))
    if time_text is None or not signatures:
        return None
    return time_text, signatures


def is_valid_event_id(event_id):
    """An event id as the service makes them: 1 to 64 letters, digits, "-", "_" and "."."""
    return isinstance(event_id, str) and re.fullmatch(r"[A-Za-z0-9._-]{1,64}", event_id) is not None


def check_callback(key, raw_body, signature_header, event_id, request_path, now_seconds=None):
    """The refusal reason for a report, or None when its signature is good. raw_body is the bytes
    received, before any parsing: a receiver that parsed and wrote them again would sign other
    bytes than the service did. request_path is the path of the request line as received (no
    query), token segment included: a report posted to another address does not match."""
    if not signature_header:
        return NO_SIGNATURE
    parsed = parse_signature_header(signature_header)
    if parsed is None:
        return BAD_SIGNATURE_HEADER
    if not is_valid_event_id(event_id):
        return BAD_EVENT_ID
    time_text, signatures = parsed
    # http.server decodes the request line as Latin-1: encoding it back gives the bytes received.
    signed = f"{time_text}.{event_id}.{request_path}.".encode("latin-1") + raw_body
    expected = hmac.new(key, signed, hashlib.sha256).digest()
    # compare_digest takes as long wherever the bytes differ, so a forger learns nothing from timing.
    if not any(hmac.compare_digest(signature, expected) for signature in signatures):
        return MISMATCH
    now = int(time.time()) if now_seconds is None else now_seconds
    if abs(now - int(time_text)) > TOLERANCE_SECONDS:
        return OUTSIDE_TOLERANCE
    return None


def nsu_codes(raw_body):
    """The "nsu_code" of each payment in a report whose signature has passed (none when the body
    is not a report)."""
    try:
        report = json.loads(raw_body.decode("utf-8", "replace"))
    except ValueError:
        return []
    elements = report.get("transaction_data") if isinstance(report, dict) else None
    if not isinstance(elements, list):
        return []
    return [element["nsu_code"] for element in elements
            if isinstance(element, dict) and isinstance(element.get("nsu_code"), str)]


class TakenReports:
    """The reports taken so far, with the payment id each one was given, by event id and by the NSU
    of each payment in it. In memory for the sample: a real sales system keeps both in its
    database, unique keys on the payment it records in the same transaction, so that a retry after
    a restart is still known (and, taking payments of several acquirers, the NSU with the
    acquirer's code)."""

    def __init__(self):
        self._by_event = {}
        self._by_nsu = {}
        self._count = 0
        self._lock = threading.Lock()

    def take(self, event_id, nsus):
        """The payment id of the report with this event id and these NSUs (a new one the first
        time), and whether it was taken before: under this event id (a retry), or under another
        with one of its NSUs (the same payment reported again). Take only reports whose signature
        was good, or a forger could block a real report by sending its id or NSU first."""
        with self._lock:
            earlier = self._by_event.get(event_id)
            if earlier is None:
                earlier = next((self._by_nsu[nsu] for nsu in nsus if nsu in self._by_nsu), None)
            if earlier is not None:
                return earlier, True
            payment_id = 1000 + self._count
            self._count += 1
            self._by_event[event_id] = payment_id
            for nsu in nsus:
                self._by_nsu[nsu] = payment_id
            return payment_id, False

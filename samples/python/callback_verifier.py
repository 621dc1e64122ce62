"""Checks a report of an approved payment from the Kelvora TEF Server before the sales system
trusts it: the Kelvora-Signature header ("t=<unix seconds>,v1=<hex HMAC-SHA-256>") must match the
exact bytes received, keyed with the installation's jwt_secret, and be at most five minutes away
from now; Kelvora-Event-Id names the report, the same on every retry of it. Python's standard
library only."""
import hashlib
import hmac
import re
import threading
import time

# How far the signing time may be from the receiver's clock, either way.
TOLERANCE_SECONDS = 5 * 60

# The reasons for a refusal, as the receiver answers them (the service logs them).
NO_SIGNATURE = "Cabeçalho Kelvora-Signature ausente."
BAD_SIGNATURE_HEADER = "Cabeçalho Kelvora-Signature malformado."
BAD_EVENT_ID = "Cabeçalho Kelvora-Event-Id ausente ou inválido."
MISMATCH = "Assinatura não confere."
OUTSIDE_TOLERANCE = "Assinatura fora da tolerância de 5 minutos."


def parse_signature_header(header):
    """The time (as signed) and the v1 signatures of a Kelvora-Signature header, or None when it
    is not one: exactly one "t" of decimal digits, one or more "v1" of 64 hex digits; other schemes
    are left for later versions to use."""
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
        elif key == "v1":
            if not re.fullmatch(r"[0-9a-fA-F]{64}", value, re.ASCII):
                return None
            signatures.append(bytes.fromhex(value))
    if time_text is None or not signatures:
        return None
    return time_text, signatures


def is_valid_event_id(event_id):
    """An event id as the service makes them: 1 to 64 letters, digits, "-", "_" and "."."""
    return isinstance(event_id, str) and re.fullmatch(r"[A-Za-z0-9._-]{1,64}", event_id) is not None


def check_callback(secret, raw_body, signature_header, event_id, now_seconds=None):
    """The refusal reason for a report (raw_body: the bytes received, before any parsing), or None
    when its signature is good. The body is never decoded here: a receiver that parsed and wrote
    it again would sign other bytes than the service did."""
    if not signature_header:
        return NO_SIGNATURE
    parsed = parse_signature_header(signature_header)
    if parsed is None:
        return BAD_SIGNATURE_HEADER
    if not is_valid_event_id(event_id):
        return BAD_EVENT_ID
    time_text, signatures = parsed
    expected = hmac.new(secret.encode("ascii"), time_text.encode("ascii") + b"." + raw_body, hashlib.sha256).digest()
    # compare_digest takes as long wherever the bytes differ, so a forger learns nothing from timing.
    if not any(hmac.compare_digest(signature, expected) for signature in signatures):
        return MISMATCH
    now = int(time.time()) if now_seconds is None else now_seconds
    if abs(now - int(time_text)) > TOLERANCE_SECONDS:
        return OUTSIDE_TOLERANCE
    return None


class TakenReports:
    """The reports taken so far, by event id, with the payment id each one was given. In memory for
    the sample: a real sales system keeps the event id in its database, a unique key on the payment
    it records, so that a retry after a restart is still known."""

    def __init__(self):
        self._payment_ids = {}
        self._lock = threading.Lock()

    def take(self, event_id):
        """The payment id of the report with this event id (a new one the first time), and whether
        the report was taken before. Take only reports whose signature was good, or a forger could
        block a real report by sending its id first."""
        with self._lock:
            if event_id in self._payment_ids:
                return self._payment_ids[event_id], True
            payment_id = 1000 + len(self._payment_ids)
            self._payment_ids[event_id] = payment_id
            return payment_id, False

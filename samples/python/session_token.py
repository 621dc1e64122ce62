"""Mints the session token a sales system's back end hands to its point-of-sale page: a compact JWS
(HS256) signed with the installation's [security] jwt_secret, which the Kelvora TEF Server checks at
"/session/start". Python's standard library only.

    KELVORA_JWT_SECRET=... python3 session_token.py [--ttl SECONDS] name=value...

prints a token for the given claims; without --ttl it expires ten minutes after it is made.
"""
import base64
import hashlib
import hmac
import json
import os
import re
import sys
import time

# The claims the service requires; it reads each one as text.
REQUIRED_CLAIMS = (
    "secctional_code", "ip_address", "store_code", "additional_parameters",
    "operator", "sale_id", "company_id", "callback_url",
)
# The page presents its token right after it loads; a short life leaves little use to a copy.
DEFAULT_TTL_SECONDS = 600
MAX_TTL_SECONDS = 12 * 60 * 60
# The service refuses a claim longer than 2 KiB and a token longer than 16 KiB.
MAX_CLAIM_BYTES = 2048
MAX_TOKEN_LENGTH = 16 * 1024
INT32_MAX = 2147483647
CALLBACK_URL = re.compile(r"https?://[^\s/?#@]+(/[^\s?#]*)?")


def check_secret(secret):
    """Raises ValueError unless the key can be the service's: 32 ASCII letters and digits, used as
    the HMAC key as they are."""
    if not isinstance(secret, str) or not re.fullmatch(r"[A-Za-z0-9]{32}", secret, re.ASCII):
        raise ValueError("the key must be 32 ASCII letters and digits")


def _check_integer(claims, name, minimum):
    text = claims[name]
    if not re.fullmatch(r"[0-9]{1,10}", text, re.ASCII) or not minimum <= int(text) <= INT32_MAX:
        raise ValueError(f'claim "{name}" must be an integer from {minimum} to {INT32_MAX}')


def check_claims(claims):
    """Raises ValueError with the reason for a claim set the service would refuse: a required claim
    missing, any claim not text or over 2 KiB, a sale or company id that is not a decimal integer
    (the sale's above 0), a callback address that is not http or https with a host and nothing
    after a "?", "#" or "@"."""
    for name in REQUIRED_CLAIMS:
        if name not in claims:
            raise ValueError(f'missing claim "{name}"')
    for name, value in claims.items():
        if not isinstance(value, str):
            raise ValueError(f'claim "{name}" must be text')
        if len(value.encode("utf-8")) > MAX_CLAIM_BYTES:
            raise ValueError(f'claim "{name}" is over 2 KiB')
    _check_integer(claims, "sale_id", 1)
    _check_integer(claims, "company_id", 0)
    if not CALLBACK_URL.fullmatch(claims["callback_url"]):
        raise ValueError('claim "callback_url" must be an http or https address')


def _segment(value):
    text = json.dumps(value, ensure_ascii=False, separators=(",", ":"))
    return base64.urlsafe_b64encode(text.encode("utf-8")).rstrip(b"=").decode("ascii")


def mint_session_token(claims, secret, ttl_seconds=DEFAULT_TTL_SECONDS, now_seconds=None):
    """The token for claims (texts), expiring ttl_seconds after now. No "nbf": a till whose clock
    lags the back end's would refuse a token that is not valid yet."""
    check_secret(secret)
    check_claims(claims)
    if isinstance(ttl_seconds, bool) or not isinstance(ttl_seconds, int) or not 1 <= ttl_seconds <= MAX_TTL_SECONDS:
        raise ValueError(f"the lifetime must be 1 to {MAX_TTL_SECONDS} seconds")
    now = int(time.time()) if now_seconds is None else now_seconds
    signing_input = _segment({"alg": "HS256", "typ": "JWT"}) + "." + _segment({**claims, "exp": now + ttl_seconds})
    mac = hmac.new(secret.encode("ascii"), signing_input.encode("ascii"), hashlib.sha256).digest()
    token = signing_input + "." + base64.urlsafe_b64encode(mac).rstrip(b"=").decode("ascii")
    if len(token) > MAX_TOKEN_LENGTH:
        raise ValueError("the token is over 16 KiB")
    return token


def main(args):
    """The command line: --ttl SECONDS and name=value claims; the key from KELVORA_JWT_SECRET, so
    that it never shows in the process list."""
    claims = {}
    ttl_seconds = DEFAULT_TTL_SECONDS
    rest = iter(args)
    for argument in rest:
        if argument == "--ttl":
            value = next(rest, "")
            ttl_seconds = int(value) if re.fullmatch(r"[0-9]{1,6}", value, re.ASCII) else -1
        elif "=" in argument:
            name, _, value = argument.partition("=")
            claims[name] = value
        else:
            raise ValueError(f"unknown argument: {argument}")
    print(mint_session_token(claims, os.environ.get("KELVORA_JWT_SECRET"), ttl_seconds))


if __name__ == "__main__":
    try:
        main(sys.argv[1:])
    except ValueError as error:
        print(f"session-token: {error}", file=sys.stderr)
        sys.exit(2)

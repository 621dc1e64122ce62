"""A tiny sales API that takes the Kelvora TEF Server's reports of approved payments at
POST /v1/sales/tef/callback/<token>, checks each one with callback_verifier.py and answers as the
service expects: 201 {"data": <payment id>} for a new report, 200 with the same id and
"duplicate": true for a repeat (its event id, or its payment's NSU, taken before), 4xx with the
reason for one it refuses. The key is the service's [sales_api] signing_secret when it has one,
else derived from its jwt_secret:

    KELVORA_SIGNING_SECRET=... python3 callback_receiver.py [--port N]   (127.0.0.1, port 8090 by default)
    KELVORA_JWT_SECRET=... python3 callback_receiver.py [--port N]
"""
import argparse
import http.server
import json
import os
import re
import sys

import callback_verifier

CALLBACK_PATH = re.compile(r"/v1/sales/tef/callback/[^/?#]+")
# Reports are a few KiB; a larger body is refused before it is read.
MAX_BODY_BYTES = 1024 * 1024


class CallbackHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # A client that stops sending in the middle of a request gives up its thread after this long.
    timeout = 30
    key = b""
    reports = callback_verifier.TakenReports()

    def _answer(self, status, body):
        text = json.dumps(body, ensure_ascii=False).encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "application/json; charset=utf-8")
        self.send_header("Content-Length", str(len(text)))
        self.end_headers()
        self.wfile.write(text)

    def _length_refusal(self):
        """Why the body is not to be read, as (status, message), or None: a Content-Length is
        required (the service always sends one), of at most MAX_BODY_BYTES."""
        length = self.headers.get("Content-Length", "")
        if not re.fullmatch(r"[0-9]{1,9}", length, re.ASCII):
            return 411, "Content-Length ausente."
        if int(length) > MAX_BODY_BYTES:
            return 413, "Corpo grande demais."
        return None

    def do_POST(self):
        if not CALLBACK_PATH.fullmatch(self.path):
            self.close_connection = True
            return self._answer(404, {"message": "Não encontrado."})
        refusal = self._length_refusal()
        if refusal is not None:
            # The body stays unread, so the connection cannot carry another request.
            self.close_connection = True
            return self._answer(refusal[0], {"message": refusal[1]})
        # The bytes exactly as received: nothing is decoded before the signature has passed.
        raw_body = self.rfile.read(int(self.headers["Content-Length"]))
        event_id = self.headers.get("Kelvora-Event-Id")
        reason = callback_verifier.check_callback(
            self.key, raw_body, self.headers.get("Kelvora-Signature"), event_id, self.path)
        if reason is not None:
            unauthorized = reason in (callback_verifier.MISMATCH, callback_verifier.OUTSIDE_TOLERANCE)
            return self._answer(401 if unauthorized else 400, {"message": reason})
        # Here, and not before, a sales system parses raw_body and records the payment with its event
        # id and its NSU.
        payment_id, repeated = self.reports.take(event_id, callback_verifier.nsu_codes(raw_body))
        if repeated:
            return self._answer(200, {"data": payment_id, "duplicate": True})
        return self._answer(201, {"data": payment_id})

    def log_message(self, format, *args):
        sys.stderr.write("callback-receiver: " + (format % args) + "\n")


def main():
    parser = argparse.ArgumentParser(description="Receives and checks Kelvora TEF Server reports.")
    parser.add_argument("--port", type=int, default=8090)
    port = parser.parse_args().port
    try:
        CallbackHandler.key = callback_verifier.report_key(
            os.environ.get("KELVORA_SIGNING_SECRET"), os.environ.get("KELVORA_JWT_SECRET"))
    except ValueError as error:
        sys.exit(f"callback-receiver: {error}")
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), CallbackHandler)
    print(f"callback-receiver: listening at http://127.0.0.1:{server.server_address[1]}/", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()

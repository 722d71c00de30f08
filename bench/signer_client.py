"""The signing benchmark's client: allows the listing, then per round one SIGN of a batch of
digests, the dialog confirmed with xdotool as a person would. A round's rate runs from the
Return keystroke (the start of the xdotool run that sends it, with no delay after the key) to the 200 answer of GET_RESULT,
polled back to back on one keep-alive connection.

Usage: signer_client.py PORT PASSWORD ROUNDS BATCH  (DISPLAY set; run as the server's account)
"""
import base64
import hashlib
import http.client
import json
import ssl
import statistics
import subprocess
import sys
import time
import urllib.parse

CONSENT_TITLE = "Allow access to your certificates?"
SIGN_TITLE = "Sign with your certificate"


class Server:
    def __init__(self, port):
        context = ssl._create_unverified_context()  # loopback, our own throwaway authority
        self.connection = http.client.HTTPSConnection("127.0.0.1", port, context=context)
        self.session = self.post("/OPEN_SESSION")[1].decode()

    def post(self, path, body=b"", headers=None):
        headers = dict(headers or {})
        if body:
            headers["Content-Type"] = "application/x-www-form-urlencoded"
        self.connection.request("POST", path, body=body, headers=headers)
        answer = self.connection.getresponse()
        return answer.status, answer.read(), answer.getheader("X-VYR-cmdId")

    def start(self, path, body=b""):
        status, text, command = self.post(path, body, {"X-VYR-sessionId": self.session})
        if status != 202:
            sys.exit(f"{path}: {status} {text[:200]!r}")
        return command

    def result(self, command):
        headers = {"X-VYR-sessionId": self.session, "X-VYR-cmdId": command}
        while True:
            status, text, _ = self.post("/GET_RESULT", b"", headers)
            if status != 202:
                return status, text


def xdotool(*arguments):
    return subprocess.run(["xdotool", *arguments], check=True, capture_output=True, text=True).stdout


def focus(title):
    window = xdotool("search", "--sync", "--onlyvisible", "--name", title).split()[0]
    xdotool("windowfocus", "--sync", window)


def sign_round(server, key_id, password, batch):
    digests = [hashlib.sha256(f"item {i} {time.time_ns()}".encode()).digest() for i in range(batch)]
    form = [("id", key_id), ("algorithm", "RSA-PKCS1"), ("digestAlgorithm", "SHA-256")]
    form += [("digest", base64.b64encode(d).decode()) for d in digests]
    command = server.start("/signer/SIGN", urllib.parse.urlencode(form).encode())
    focus(SIGN_TITLE)
    xdotool("type", "--delay", "20", password)
    started = time.perf_counter()
    xdotool("key", "--delay", "0", "Return")
    status, text = server.result(command)
    elapsed = time.perf_counter() - started
    signatures = json.loads(text).get("signatures", []) if status == 200 else []
    if len(signatures) != batch:
        sys.exit(f"SIGN: {status} {text[:200]!r}")
    return batch / elapsed


def main():
    port, password, rounds, batch = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    server = Server(port)
    command = server.start("/signer/LIST_CERTIFICATES")
    focus(CONSENT_TITLE)
    xdotool("key", "Return")
    status, text = server.result(command)
    if status != 200 or not json.loads(text):
        sys.exit(f"LIST_CERTIFICATES: {status} {text[:200]!r}")
    key_id = json.loads(text)[0]["id"]
    rates = []
    for number in range(rounds):
        rates.append(sign_round(server, key_id, password, batch))
        print(f"round {number + 1}: {rates[-1]:.1f} signatures/s", file=sys.stderr)
    print(f"MEDIAN {statistics.median(rates):.1f}")


if __name__ == "__main__":
    main()

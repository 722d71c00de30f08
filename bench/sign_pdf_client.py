"""The PDF signing benchmark's client: allows the listing, then per round uploads the document
to SIGN_PDF, waits for the dialog, types the password and confirms it as a person would, and
polls GET_RESULT back to back on the same keep-alive connection until the signed document is
in hand; after each round `openssl cms -sign` over the same bytes with the same key.

Per round it prints the server's part apart from the person's: POST to the 202, POST to the
dialog mapped, Return keystroke to the signed document, their sum (what the server spends),
the whole round including the typing, and the server's CPU time over the round (all its
threads, the dialog's drawing too); then openssl's time and CPU time. On a busy machine the CPU
times still compare where the clock times no longer do.

Usage: sign_pdf_client.py PORT PASSWORD ROUNDS PDF CERT KEY OUTPUT SERVER_PID  (DISPLAY set;
run as the server's account)
"""
import base64
import http.client
import json
import os
import resource
import ssl
import statistics
import subprocess
import sys
import time

CONSENT_TITLE = "Allow access to your certificates?"
SIGN_TITLE = "Sign with your certificate"
ORIGIN = "https://bench.example"
BOUNDARY = "vyrbenchboundary7Qx2"
COLUMNS = ("post_202", "post_dialog", "return_done", "server", "total", "server_cpu", "openssl", "openssl_cpu")
TICKS = os.sysconf("SC_CLK_TCK")


class Server:
    def __init__(self, port):
        context = ssl._create_unverified_context()  # loopback, our own throwaway authority
        self.connection = http.client.HTTPSConnection("127.0.0.1", port, context=context)
        self.session = None
        self.session = self.post("/OPEN_SESSION")[1].decode()

    def post(self, path, body=b"", content_type="application/x-www-form-urlencoded", headers=None):
        headers = dict(headers or {}, Origin=ORIGIN)
        if self.session:
            headers["X-VYR-sessionId"] = self.session
        if body:
            headers["Content-Type"] = content_type
        self.connection.request("POST", path, body=body, headers=headers)
        answer = self.connection.getresponse()
        return answer.status, answer.read(), answer.getheader("X-VYR-cmdId")

    def start(self, path, body=b"", content_type="application/x-www-form-urlencoded"):
        status, text, command = self.post(path, body, content_type)
        if status != 202:
            sys.exit(f"{path}: {status} {text[:200]!r}")
        return command

    def result(self, command):
        while True:
            status, text, _ = self.post("/GET_RESULT", headers={"X-VYR-cmdId": command})
            if status not in (202, 204):
                return status, text


def cpu_seconds(pid):
    # User and system time of every thread the process has had, exited ones too.
    with open(f"/proc/{pid}/stat") as file:
        fields = file.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def children_cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def xdotool(*arguments):
    return subprocess.run(["xdotool", *arguments], check=True, capture_output=True, text=True).stdout


def wait_for_window(title):
    # xdotool's own --sync looks only every half second; a page's user sees the dialog at once.
    while True:
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title],
                               capture_output=True, text=True).stdout.split()
        if found:
            return found[0]
        time.sleep(0.002)


def multipart(key_id, document):
    head = (f"--{BOUNDARY}\r\nContent-Disposition: form-data; name=\"id\"\r\n\r\n{key_id}\r\n"
            f"--{BOUNDARY}\r\nContent-Disposition: form-data; name=\"document\"; filename=\"big.pdf\"\r\n"
            "Content-Type: application/pdf\r\n\r\n").encode()
    return head + document + f"\r\n--{BOUNDARY}--\r\n".encode()


def sign_round(server, body, password, server_pid):
    cpu = cpu_seconds(server_pid)
    started = time.perf_counter()
    command = server.start("/signer/SIGN_PDF", body, f"multipart/form-data; boundary={BOUNDARY}")
    accepted = time.perf_counter()
    window = wait_for_window(SIGN_TITLE)
    mapped = time.perf_counter()
    xdotool("windowfocus", "--sync", window)
    xdotool("type", "--delay", "12", password)
    confirmed = time.perf_counter()
    xdotool("key", "--delay", "0", "Return")
    status, text = server.result(command)
    done = time.perf_counter()
    if status != 200:
        sys.exit(f"SIGN_PDF: {status} {text[:200]!r}")
    cpu = cpu_seconds(server_pid) - cpu
    to_dialog, from_return = mapped - started, done - confirmed
    return (accepted - started, to_dialog, from_return, to_dialog + from_return, done - started, cpu), text


def openssl_round(pdf, cert, key):
    cpu = children_cpu_seconds()
    started = time.perf_counter()
    subprocess.run(["openssl", "cms", "-sign", "-binary", "-md", "sha256", "-in", pdf, "-signer", cert,
                    "-inkey", key, "-outform", "DER", "-out", "/dev/null"], check=True)
    return time.perf_counter() - started, children_cpu_seconds() - cpu


def main():
    port, password, rounds = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
    pdf, cert, key, output, server_pid = sys.argv[4:9]
    server = Server(port)
    command = server.start("/signer/LIST_CERTIFICATES")
    xdotool("windowfocus", "--sync", xdotool("search", "--sync", "--onlyvisible", "--name", CONSENT_TITLE).split()[0])
    xdotool("key", "space", "Return")
    status, text = server.result(command)
    if status != 200 or not json.loads(text):
        sys.exit(f"LIST_CERTIFICATES: {status} {text[:200]!r}")
    with open(pdf, "rb") as file:
        body = multipart(json.loads(text)[0]["id"], file.read())
    rows = []
    for number in range(rounds):
        times, answer = sign_round(server, body, password, server_pid)
        rows.append(times + openssl_round(pdf, cert, key))
        print(f"round {number + 1}: " + " ".join(f"{c}={v:.3f}" for c, v in zip(COLUMNS, rows[-1])),
              file=sys.stderr)
    with open(output, "wb") as file:
        file.write(base64.b64decode(json.loads(answer)["document"]))
    for index, column in enumerate(COLUMNS):
        values = [row[index] for row in rows]
        print(f"MEDIAN {column} {statistics.median(values):.4f} " + " ".join(f"{v:.3f}" for v in values))


if __name__ == "__main__":
    main()

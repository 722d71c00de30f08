"""The PDF signing benchmark's client: allows the listing, then per round uploads the document
to SIGN_PDF, waits for the dialog, types the password and confirms it as a person would, and
polls GET_RESULT back to back on the same keep-alive connection until the signed document is
in hand; after each round `openssl cms -sign` over the same bytes with the same key.

The dialogs are driven through the X server's test extension from this process, as xdotool
drives them: the dialog is seen the moment the X server maps it, and a key is timed from the
moment it is sent. Polling `xdotool search` and starting `xdotool key` cost a process each,
several milliseconds of both cores that the server's figures carried.

Per round it prints the server's part apart from the person's: POST to the 202, POST to the
dialog mapped, Return keystroke to the signed document, their sum (what the server spends),
the whole round including the typing, and the server's CPU time over the round (all its
threads, the dialog's drawing too); then openssl's time and CPU time. On a busy machine the CPU
times still compare where the clock times no longer do.

After each round the same upload goes to nginx and a reply as large as the signed document's
comes back from it, on one connection of its own: the wire's floor for this client.

Usage: sign_pdf_client.py PORT PASSWORD ROUNDS PDF CERT KEY OUTPUT SERVER_PID NGINX_PORT WIRE_ROOT
(DISPLAY set; run as the server's account; WIRE_ROOT is nginx's root, writable by this account)
"""
import base64
import ctypes
import http.client
import json
import os
import resource
import select
import ssl
import statistics
import subprocess
import sys
import time

CONSENT_TITLE = "Allow access to your certificates?"
SIGN_TITLE = "Sign with your certificate"
ORIGIN = "https://bench.example"
BOUNDARY = "vyrbenchboundary7Qx2"
COLUMNS = ("post_202", "post_dialog", "return_done", "server", "total", "server_cpu", "openssl", "openssl_cpu",
           "wire_up", "wire_down", "wire")
TICKS = os.sysconf("SC_CLK_TCK")


def connect(port):
    context = ssl._create_unverified_context()  # loopback, our own throwaway authority
    return http.client.HTTPSConnection("127.0.0.1", port, context=context)


class Server:
    def __init__(self, port):
        self.connection = connect(port)
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


class Display:
    """The dialogs as a person meets them: mapped on the screen, focused, typed into."""

    MAP_NOTIFY, SUBSTRUCTURE_NOTIFY_MASK, REVERT_TO_PARENT = 19, 1 << 19, 2

    def __init__(self):
        self.x = ctypes.CDLL("libX11.so.6")
        self.test = ctypes.CDLL("libXtst.so.6")
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x.XStringToKeysym.restype = ctypes.c_ulong
        self.x.XKeysymToKeycode.restype = ctypes.c_ubyte
        for name in ("XDefaultRootWindow", "XSelectInput", "XPending", "XNextEvent", "XFetchName", "XFree",
                     "XSetInputFocus", "XSync", "XFlush", "XKeysymToKeycode", "XConnectionNumber"):
            getattr(self.x, name).argtypes = None
        self.display = ctypes.c_void_p(self.x.XOpenDisplay(None))
        if not self.display:
            sys.exit("no X display")
        # Dialogs are children of the root window (no window manager): their mapping is told here.
        root = ctypes.c_ulong(self.x.XDefaultRootWindow(self.display))
        self.x.XSelectInput(self.display, root, ctypes.c_long(self.SUBSTRUCTURE_NOTIFY_MASK))
        self.x.XFlush(self.display)

    def wait_mapped(self, title, timeout=30):
        deadline = time.monotonic() + timeout
        event = (ctypes.c_long * 24)()
        while True:
            while not self.x.XPending(self.display):
                if not select.select([self.x.XConnectionNumber(self.display)], [], [],
                                     max(0, deadline - time.monotonic()))[0]:
                    sys.exit(f"no window {title!r} within {timeout} s")
            self.x.XNextEvent(self.display, event)
            # XMapEvent: type, serial, send_event, display, event, window
            if event[0] & 0xFFFFFFFF == self.MAP_NOTIFY and self.name(event[5]) == title:
                return event[5]

    def name(self, window):
        text = ctypes.c_char_p()
        if not self.x.XFetchName(self.display, ctypes.c_ulong(window), ctypes.byref(text)) or not text.value:
            return None
        value = text.value.decode(errors="replace")
        self.x.XFree(text)
        return value

    def focus(self, window):
        self.x.XSetInputFocus(self.display, ctypes.c_ulong(window), self.REVERT_TO_PARENT, ctypes.c_ulong(0))
        self.x.XSync(self.display, 0)

    def key(self, name):
        keysym = ctypes.c_ulong(self.x.XStringToKeysym(name.encode()))
        code = self.x.XKeysymToKeycode(self.display, keysym)
        for pressed in (1, 0):
            self.test.XTestFakeKeyEvent(self.display, code, pressed, ctypes.c_ulong(0))
        self.x.XFlush(self.display)

    def type(self, text, delay=0.012):
        for character in text:
            self.key(character)
            time.sleep(delay)


def multipart(key_id, document):
    head = (f"--{BOUNDARY}\r\nContent-Disposition: form-data; name=\"id\"\r\n\r\n{key_id}\r\n"
            f"--{BOUNDARY}\r\nContent-Disposition: form-data; name=\"document\"; filename=\"big.pdf\"\r\n"
            "Content-Type: application/pdf\r\n\r\n").encode()
    return head + document + f"\r\n--{BOUNDARY}--\r\n".encode()


def sign_round(server, display, body, password, server_pid):
    cpu = cpu_seconds(server_pid)
    started = time.perf_counter()
    command = server.start("/signer/SIGN_PDF", body, f"multipart/form-data; boundary={BOUNDARY}")
    accepted = time.perf_counter()
    window = display.wait_mapped(SIGN_TITLE)
    mapped = time.perf_counter()
    display.focus(window)
    display.type(password)
    confirmed = time.perf_counter()
    display.key("Return")
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


def wire_round(nginx, body, reply_size):
    """The same upload to nginx, then a reply of the signed document's size from it."""
    started = time.perf_counter()
    nginx.request("POST", "/upload", body=body, headers={"Content-Type": f"multipart/form-data; boundary={BOUNDARY}"})
    nginx.getresponse().read()
    uploaded = time.perf_counter()
    nginx.request("GET", "/reply.json")
    answer = nginx.getresponse().read()
    done = time.perf_counter()
    if len(answer) != reply_size:
        sys.exit(f"nginx served {len(answer)} bytes, not {reply_size}")
    return uploaded - started, done - uploaded, done - started


def main():
    port, password, rounds = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
    pdf, cert, key, output, server_pid, nginx_port, wire_root = sys.argv[4:11]
    display = Display()
    server = Server(port)
    command = server.start("/signer/LIST_CERTIFICATES")
    display.focus(display.wait_mapped(CONSENT_TITLE))
    display.key("space")
    display.key("Return")
    status, text = server.result(command)
    if status != 200 or not json.loads(text):
        sys.exit(f"LIST_CERTIFICATES: {status} {text[:200]!r}")
    with open(pdf, "rb") as file:
        body = multipart(json.loads(text)[0]["id"], file.read())
    rows = []
    for number in range(rounds):
        times, answer = sign_round(server, display, body, password, server_pid)
        if number == 0:
            with open(os.path.join(wire_root, "reply.json"), "wb") as file:
                file.write(answer)
            nginx = connect(int(nginx_port))
        rows.append(times + openssl_round(pdf, cert, key) + wire_round(nginx, body, len(answer)))
        print(f"round {number + 1}: " + " ".join(f"{c}={v:.3f}" for c, v in zip(COLUMNS, rows[-1])),
              file=sys.stderr)
    with open(output, "wb") as file:
        file.write(base64.b64decode(json.loads(answer)["document"]))
    for index, column in enumerate(COLUMNS):
        values = [row[index] for row in rows]
        print(f"MEDIAN {column} {statistics.median(values):.4f} " + " ".join(f"{v:.3f}" for v in values))


if __name__ == "__main__":
    main()

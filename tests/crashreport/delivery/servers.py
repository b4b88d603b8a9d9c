#!/usr/bin/python3
"""Real servers on 127.0.0.1 for the delivery tests under Wine, none of whose protocol code is ours:
aiosmtpd (plain, and with AUTH LOGIN required), dnsmasq with MX records for a test domain,
an HTTP server whose multipart parsing is Python's email package, tinyproxy in front of it, and a
CUPS scheduler with a cups-pdf printer for Wine's printing.

    servers.py start DIR   starts them in the background, writes DIR/servers.txt, returns when ready
    servers.py stop DIR    stops them

Each message or upload received is unpacked into DIR/smtp/N/ or DIR/http/N/ before the server
answers, so a client that has its reply can read what arrived. DIR/record-url is a program for
Wine's browser and mailer lists: it appends its argument to DIR/urls.txt.
"""
import base64
import email
import email.policy
import http.server
import os
import random
import shutil
import signal
import socket
import socketserver
import subprocess
import sys
import tempfile
import threading
import time
import zipfile

ACCOUNT, PASSWORD = "zembrak", "geheim"
TEST_DOMAIN = "zembrak-test.example"
# A server that stops the test run from ending leaves after this long on its own.
LIFETIME_SECONDS = 3600


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Store:
    def __init__(self, root, kind):
        self.root = os.path.join(root, kind)
        os.makedirs(self.root, exist_ok=True)
        self.lock = threading.Lock()
        self.count = 0

    def save(self, files):
        """Writes one record's files, visible at once under their number."""
        with self.lock:
            self.count += 1
            n = self.count
        tmp = os.path.join(self.root, ".%d" % n)
        os.makedirs(tmp)
        for name, data in files.items():
            with open(os.path.join(tmp, name), "wb") as f:
                f.write(data if isinstance(data, bytes) else data.encode("utf-8"))
        os.rename(tmp, os.path.join(self.root, str(n)))


def check_attachment(name, data, files):
    """Reads a received archive or picture with readers that are not ours (unzip -t, Python's
    zipfile, pngcheck, Pillow): one line for the record's "checks", and each archive entry's bytes
    as "unzipped-ENTRY". Other files give no line."""
    kind = name.lower()[-4:]
    if kind not in (".zip", ".png"):
        return None
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "received" + kind)
        with open(path, "wb") as f:
            f.write(data)
        try:
            if kind == ".zip":
                tested = subprocess.run(["unzip", "-tq", path], capture_output=True).returncode == 0
                with zipfile.ZipFile(path) as z:
                    bad = z.testzip()
                    for info in z.infolist():
                        files["unzipped-" + info.filename] = z.read(info)
                    entries = ",".join(i.filename for i in z.infolist())
                return "%s\tunzip %s, zipfile %s: %s" % (name, "ok" if tested else "failed",
                                                         "ok" if bad is None else "failed", entries)
            from PIL import Image
            checked = subprocess.run(["pngcheck", "-q", path], capture_output=True).returncode == 0
            with Image.open(path) as im:
                im.load()
                size, mode = im.size, im.mode
            return "%s\tpngcheck %s, pillow %dx%d %s" % (name, "ok" if checked else "failed", size[0], size[1], mode)
        except Exception as e:  # what the test sees instead of the check's line
            return "%s\tunreadable: %s" % (name, e)


def add_checks(files, attachments):
    lines = [line for line in (check_attachment(n, d, files) for n, d in attachments) if line]
    files["checks"] = "\n".join(lines)


def mail_files(envelope):
    raw = envelope.original_content
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    files = {
        "raw": raw,
        "mail_from": envelope.mail_from,
        "rcpt": "\n".join(envelope.rcpt_tos),
        "to": str(msg["To"] or ""),
        "from": str(msg["From"] or ""),
        "subject": str(msg["Subject"] or ""),
        "defects": "\n".join(str(d) for part in msg.walk() for d in part.defects),
    }
    names = []
    if msg.is_multipart():
        for part in msg.iter_parts():
            if part.get_filename() is None:
                files["body"] = part.get_payload(decode=True)
            else:
                files["att%d" % len(names)] = part.get_payload(decode=True)
                names.append("%s\t%s" % (part.get_filename(), part.get_content_type()))
    else:
        files["body"] = msg.get_payload(decode=True)
    files["attachments"] = "\n".join(names)
    add_checks(files, [(n.split("\t")[0], files["att%d" % i]) for i, n in enumerate(names)])
    return files


def start_smtp(root, auth):
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import AuthResult, LoginPassword

    store = Store(root, "smtp_auth" if auth else "smtp")

    class Handler:
        async def handle_DATA(self, server, session, envelope):
            store.save(mail_files(envelope))
            return "250 OK"

    def authenticator(server, session, envelope, mechanism, data):
        ok = isinstance(data, LoginPassword) and data.login == ACCOUNT.encode() and data.password == PASSWORD.encode()
        return AuthResult(success=ok, handled=False)

    port = free_port()
    options = dict(hostname="127.0.0.1", port=port)
    if auth:
        options.update(authenticator=authenticator, auth_required=True, auth_require_tls=False)
    controller = Controller(Handler(), **options)
    controller.start()
    return controller, port


class CutServer(socketserver.ThreadingTCPServer):
    """Accepts everything and closes the connection a few bytes into the message."""
    daemon_threads = True
    allow_reuse_address = True


class CutHandler(socketserver.StreamRequestHandler):
    def handle(self):
        self.wfile.write(b"220 cut ESMTP\r\n")
        while True:
            line = self.rfile.readline()
            if not line:
                return
            if line.upper().startswith(b"DATA"):
                self.wfile.write(b"354 go ahead\r\n")
                self.rfile.read(100)
                return
            self.wfile.write(b"250 ok\r\n")


class HttpHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    store = None

    def log_message(self, *args):
        pass

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        self.connection.settimeout(5)
        try:
            body = self.rfile.read(length)
        except OSError:
            body = b""
        if self.path.startswith("/discard"):  # for the benchmark: the client's side alone
            return self.reply("200 OK")
        # Anything beyond the Content-Length would be a request of its own.
        self.connection.settimeout(0.2)
        try:
            extra = self.connection.recv(1)
        except OSError:
            extra = b""
        ctype = self.headers.get("Content-Type", "")
        msg = email.message_from_bytes(b"Content-Type: " + ctype.encode() + b"\r\n\r\n" + body,
                                       policy=email.policy.HTTP)
        files = {
            "request_line": self.requestline,
            "headers": str(self.headers),
            "complete": "1" if len(body) == length and not extra and body.endswith(b"--\r\n") else "0",
            "defects": "\n".join(str(d) for part in msg.walk() for d in part.defects),
        }
        fields, received = [], []
        if msg.is_multipart():
            for part in msg.iter_parts():
                name = part.get_param("name", header="content-disposition")
                filename = part.get_filename()
                data = part.get_payload(decode=True)
                if filename is None:
                    files["field-" + name] = data
                    fields.append(name)
                else:
                    files["file-" + name] = data
                    fields.append("%s\t%s\t%s" % (name, filename, part.get_content_type()))
                    received.append((filename, data))
        files["parts"] = "\n".join(fields)
        add_checks(files, received)
        self.store.save(files)
        self.answer(self.path)

    def answer(self, path):
        if path.startswith("/auth"):
            expected = "Basic " + base64.b64encode(("%s:%s" % (ACCOUNT, PASSWORD)).encode()).decode()
            status = "200 OK" if self.headers.get("Authorization") == expected else "401 Unauthorized"
            return self.reply(status)
        if path.startswith("/continue"):
            # The interim reply and the final one in one write.
            return self.reply("200 OK", prefix=b"HTTP/1.1 100 Continue\r\n\r\n")
        if path.startswith("/redirect-hostile"):
            return self.reply("302 Found", [("location", "C:\\windows\\system32\\calc.exe")])
        if path.startswith("/redirect"):
            return self.reply("302 Found", [("location", "http://127.0.0.1/landing?report=7&x=1")])
        if path.startswith("/silent"):
            time.sleep(4)
            return
        if path.startswith("/fail"):
            return self.reply("500 Internal Server Error")
        self.reply("200 OK")

    def reply(self, status, headers=(), prefix=b""):
        text = "HTTP/1.1 %s\r\n" % status
        for name, value in headers:
            text += "%s: %s\r\n" % (name, value)
        text += "Content-Length: 2\r\nConnection: close\r\n\r\nok"
        self.wfile.write(prefix + text.encode())
        self.close_connection = True


def start_http(root):
    port = free_port()
    handler = type("Handler", (HttpHandler,), {"store": Store(root, "http")})
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, port


def start_dns(root):
    """dnsmasq on port 53 of an address of its own in 127/8 (the resolver asks port 53 only), so
    that the runs of both builds can have one each. Two exchangers: the backup, of higher
    preference value, comes first in dnsmasq's reply."""
    log = open(os.path.join(root, "dnsmasq.log"), "wb")
    rng = random.Random(os.getpid() ^ int(time.time() * 1000))
    for _ in range(5):
        address = "127.53.%d.%d" % (rng.randrange(256), rng.randrange(1, 255))
        proc = subprocess.Popen(
            ["dnsmasq", "--no-daemon", "--conf-file=/dev/null", "--no-resolv", "--no-hosts", "--bind-interfaces",
             "--listen-address=" + address, "--port=53", "--user=root", "--pid-file=",
             "--mx-host=%s,127.0.0.1,5" % TEST_DOMAIN, "--mx-host=%s,backup.%s,50" % (TEST_DOMAIN, TEST_DOMAIN)],
            stdout=log, stderr=log, stdin=subprocess.DEVNULL)
        if wait_dns(address, proc):
            return proc, address
        proc.kill()
        proc.wait()
    return None, ""


def start_proxy(root):
    port = free_port()
    conf = os.path.join(root, "tinyproxy.conf")
    with open(conf, "w") as f:
        f.write("Port %d\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\nLogLevel Info\n" % port)
    log = open(os.path.join(root, "tinyproxy.log"), "wb")
    proc = subprocess.Popen(["tinyproxy", "-d", "-c", conf], stdout=log, stderr=log, stdin=subprocess.DEVNULL)
    return proc, port


CUPSD_CONF = """Listen %(root)s/cups.sock
LogLevel warn
WebInterface No
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
"""
CUPS_FILES_CONF = """ServerRoot %(root)s/conf
RequestRoot %(root)s/spool
CacheDir %(root)s/cache
StateDir %(root)s/state
TempDir %(root)s/tmp
ErrorLog %(root)s/error_log
AccessLog %(root)s/access_log
PageLog %(root)s/page_log
ServerBin /usr/lib/cups
DataDir /usr/share/cups
User lp
Group lp
"""


def start_cups(root):
    """A CUPS scheduler of our own (socket ROOT/cups/cups.sock, which CUPS_SERVER names) with a
    cups-pdf printer as the default: Wine prints through it, and the PDFs land in the folder that
    cups-pdf's configuration names for the user ($HOME/PDF). None without the packages."""
    ppd = "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd"
    if not (shutil.which("cupsd") and shutil.which("lpadmin") and os.path.exists(ppd)):
        return None
    base = os.path.join(root, "cups")
    for d in ("conf/ppd", "spool", "cache", "state", "tmp"):
        os.makedirs(os.path.join(base, d), exist_ok=True)
    shutil.chown(os.path.join(base, "spool"), "root", "lp")
    os.chmod(os.path.join(base, "spool"), 0o710)
    with open(os.path.join(base, "conf", "cupsd.conf"), "w") as f:
        f.write(CUPSD_CONF % {"root": base})
    with open(os.path.join(base, "conf", "cups-files.conf"), "w") as f:
        f.write(CUPS_FILES_CONF % {"root": base})
    log = open(os.path.join(base, "cupsd.log"), "wb")
    proc = subprocess.Popen(["cupsd", "-f", "-c", os.path.join(base, "conf", "cupsd.conf"), "-s",
                             os.path.join(base, "conf", "cups-files.conf")], stdout=log, stderr=log,
                            stdin=subprocess.DEVNULL)
    env = dict(os.environ, CUPS_SERVER=os.path.join(base, "cups.sock"))
    for _ in range(100):
        if proc.poll() is not None:
            return None
        if subprocess.run(["lpadmin", "-p", "PDF", "-v", "cups-pdf:/", "-P", ppd, "-E"], env=env,
                          capture_output=True).returncode == 0:
            subprocess.run(["lpadmin", "-d", "PDF"], env=env, capture_output=True)
            return proc
        time.sleep(0.1)
    proc.terminate()
    return None


def wait_tcp(port, proc=None):
    for _ in range(100):
        if proc is not None and proc.poll() is not None:
            return False
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.1)
    return False


def wait_dns(address, proc):
    query = b"\x00\x07\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00\x04ping\x00\x00\x01\x00\x01"
    for _ in range(50):
        if proc.poll() is not None:
            return False
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.settimeout(0.2)
            try:
                s.sendto(query, (address, 53))
                s.recv(512)
                return True
            except OSError:
                pass
    return False


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


def serve(root):
    children = []

    def stop(*_):
        for p in children:
            p.terminate()
        for p in children:
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
        os._exit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGALRM, stop)
    signal.alarm(LIFETIME_SECONDS)
    info = {"dir": wine_path(root), "record_url": os.path.join(root, "record-url")}
    _, info["smtp"] = start_smtp(root, False)
    _, info["smtp_auth"] = start_smtp(root, True)
    cut_port = free_port()
    cut = CutServer(("127.0.0.1", cut_port), CutHandler)
    threading.Thread(target=cut.serve_forever, daemon=True).start()
    info["smtp_cut"] = cut_port
    _, info["http"] = start_http(root)
    proxy, info["proxy"] = start_proxy(root)
    children.append(proxy)
    # dnsmasq needs port 53, so root; without it the tests that need DNS say they were skipped.
    dns, info["dns"] = start_dns(root)
    if dns:
        children.append(dns)
    if not wait_tcp(info["proxy"], proxy):
        info["proxy"] = ""
    cups = start_cups(root)
    if cups:
        children.append(cups)
    info["pdf"] = wine_path(os.path.join(os.path.expanduser("~"), "PDF")) if cups else ""
    with open(info["record_url"], "w") as f:
        f.write('#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s/urls.txt"\n' % root)
    os.chmod(info["record_url"], 0o755)
    with open(os.path.join(root, ".servers.txt"), "w") as f:
        f.write("".join("%s=%s\n" % kv for kv in info.items()))
    os.rename(os.path.join(root, ".servers.txt"), os.path.join(root, "servers.txt"))
    while True:
        signal.pause()


def start(root):
    stop(root)
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    pid = os.fork()
    if pid == 0:
        os.setsid()
        fd = os.open(os.path.join(root, "servers.log"), os.O_WRONLY | os.O_CREAT)
        os.dup2(fd, 1)
        os.dup2(fd, 2)
        os.dup2(os.open(os.devnull, os.O_RDONLY), 0)
        try:
            serve(root)
        finally:
            os._exit(1)
    with open(os.path.join(root, "pid"), "w") as f:
        f.write(str(pid))
    for _ in range(300):
        if os.path.exists(os.path.join(root, "servers.txt")):
            print(open(os.path.join(root, "servers.txt")).read(), end="")
            return 0
        if os.waitpid(pid, os.WNOHANG) != (0, 0):
            break
        time.sleep(0.1)
    print(open(os.path.join(root, "servers.log")).read(), file=sys.stderr)
    return 1


def stop(root):
    try:
        pid = int(open(os.path.join(root, "pid")).read())
    except (OSError, ValueError):
        return 0
    try:
        os.kill(pid, signal.SIGTERM)
        for _ in range(100):
            os.kill(pid, 0)
            time.sleep(0.1)
    except ProcessLookupError:
        pass
    os.remove(os.path.join(root, "pid"))
    return 0


if __name__ == "__main__":
    command, root = sys.argv[1], os.path.abspath(sys.argv[2])
    sys.exit(start(root) if command == "start" else stop(root))

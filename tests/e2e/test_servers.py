"""The gate behind real web servers, driven over HTTP: every command and its main error
pages, the profile query, large and broken uploads, the request size limit, what must
never be delivered, the posted leaves delivered as static files only, and the gate's
standard error reaching the server's error log.

Run one server's cases with ``python3 -m unittest test_servers.LighttpdTest`` (also
ApacheTest, NginxTest) and ORVANEGATE_EXE naming the built executable."""

import configparser
import http.client
import os
import random
import re
import socket
import subprocess
import time
import unittest

import cgi_harness
import gate_pages as pages
import served_site

LIMIT = 64 * 1024 * 1024
BIG = 20 * 1024 * 1024
TIMEOUT = 60
# Words that only the files kept from the web hold: settings, records and dumps.
SECRET_WORDS = (b"sessiondb=", b"membersdb=", b"pw=", b"dumppath=")


def random_bytes(count, seed):
    return random.Random(seed).randbytes(count)


class Answer:
    def __init__(self, response):
        self.status = response.status
        self.headers = response.headers
        self.body = response.read()

    def header(self, name):
        return self.headers.get(name)


class ServerCases(served_site.SiteCases):
    """The cases every server passes; a subclass names the server in SITE."""

    @classmethod
    def make_site(cls):
        # Dumps on: they show what reached the gate, and that they are never delivered.
        return cls.SITE(dumps=True)

    @classmethod
    def prepare_site(cls):
        cls.lay_out_locked_session()

    @classmethod
    def lay_out_locked_session(cls):
        """Session "locked": its member directory is not writable by the server's account,
        so that registering there fails inside the gate."""
        locked = cls.site.path("data", "locked-members")
        os.mkdir(locked)
        os.chmod(locked, 0o555)
        with open(cls.site.path("data", "sessions", "locked.txt"), "w") as f:
            f.write("path=%s\r\nmembersdb=%s\r\n" % (cls.site.path("htdocs", "leaves"), locked))

    # --- client ----------------------------------------------------------------
    def request(self, method, path, body=None, headers=None):
        conn = http.client.HTTPConnection("127.0.0.1", self.site.port, timeout=TIMEOUT)
        try:
            conn.request(method, path, body=body, headers=headers or {})
            return Answer(conn.getresponse())
        finally:
            conn.close()

    def get(self, path):
        return self.request("GET", path)

    def post_form(self, *pairs):
        return self.request("POST", "/cgi/orvanegate.exe", pages.urlencoded(*pairs),
                            {"Content-Type": "application/x-www-form-urlencoded"})

    def post_multipart(self, *parts):
        return self.request("POST", "/cgi/orvanegate.exe", pages.multipart(*parts),
                            {"Content-Type": pages.multipart_type()})

    def connect(self):
        return socket.create_connection(("127.0.0.1", self.site.port), timeout=TIMEOUT)

    def abandon(self, head, body_part):
        """Sends a request's head and part of its body, then goes away."""
        with self.connect() as s:
            s.sendall(head + body_part)

    def answer_head(self, head):
        """Sends only a request's head; the head of the answer, read until its blank line
        (the server must answer without waiting for the body)."""
        with self.connect() as s:
            s.sendall(head)
            answer = b""
            while b"\r\n\r\n" not in answer:
                piece = s.recv(65536)
                if not piece:
                    break
                answer += piece
            return answer

    # --- expectations ----------------------------------------------------------
    def assert_gate_page(self, expected, answer):
        self.assertEqual(200, answer.status)
        # The gate's own type, with no charset added by the server (its pages are
        # Shift_JIS and say so inside).
        self.assertEqual("text/html", answer.header("Content-Type"))
        cgi_harness.assert_bytes_equal(expected, answer.body, "page")

    def assert_gate_error(self, message, answer):
        self.assert_gate_page(pages.error_page(message), answer)

    def assert_gates_ended(self):
        """No gate process of this site is still in a request it was cut off from."""
        deadline = time.monotonic() + 15
        while self.site.busy_gate_processes() and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual([], self.site.busy_gate_processes(), "gate processes still running")

    def register(self, member_id, pw="secret1", realname="山田花子", session="demo"):
        return self.post_form(("session", session), ("command", "registration"),
                              ("id", member_id), ("pw", pw), ("pw2", pw),
                              ("realname", realname), ("mail", "m@example.com"),
                              ("country", "日本"))

    def posting(self, member_id, upload, pw="secret1", title="表題", session="demo"):
        parts = [("session", session), ("command", "postleaf"), ("id", member_id), ("pw", pw)]
        if upload is not None:
            parts.append(upload)
        return parts + [("blank-title", title), ("comment", "by the suite")]

    def leaves(self):
        return set(self.site.files("htdocs", "leaves"))

    def dumps(self):
        return self.site.files("data", "dumps")

    # --- cases -----------------------------------------------------------------
    def test_pages_are_delivered_in_shift_jis(self):
        answer = self.get("/")
        self.assertEqual(200, answer.status)
        self.assertIn("デモサイト".encode("cp932"), answer.body)
        content_type = answer.header("Content-Type").replace(" ", "").lower()
        self.assertEqual("text/html;charset=shift_jis", content_type)

    def test_registration_and_its_error_pages(self):
        self.assert_gate_page(pages.registration_accepted_page(), self.register("reg1"))
        self.assertEqual(pages.registration_record("reg1", "secret1", "山田花子", "日本",
                                                   "m@example.com"),
                         pages.hash_checked(self.site.read("data", "members", "reg1.txt"),
                                            b"secret1", b"pw=secret1"))
        cases = (("taken id", self.register("reg1", pw="other99"), pages.ID_TAKEN),
                 ("short password", self.register("reg2", pw="abcd"), pages.PW_SHORT),
                 ("blank name", self.register("reg3", realname=""), pages.BLANK),
                 ("unknown session", self.register("reg4", session="nosuch"), pages.NO_SESSION))
        for label, answer, message in cases:
            with self.subTest(label):
                self.assert_gate_error(message, answer)
        self.assertNotIn("reg2.txt", os.listdir(self.site.path("data", "members")))

    def test_requests_without_a_command(self):
        self.assert_gate_error(pages.NO_DATA, self.request("POST", "/cgi/orvanegate.exe", b""))
        self.assert_gate_error(pages.NO_DATA, self.get("/cgi/orvanegate.exe"))
        self.assert_gate_page(b"", self.post_form(("session", "demo"), ("command", "none")))

    def test_profile_query(self):
        self.register("prof1")
        record = {"realname": "山田花子".encode("cp932"), "country": "日本".encode("cp932")}
        for query in ("showuser=prof1&session=demo", "ShowUser=prof1&Session=demo"):
            with self.subTest(query):
                answer = self.get("/cgi/orvanegate.exe?" + query)
                self.assert_gate_page(pages.profile_page("prof1", record), answer)
        self.assert_gate_page(b"", self.get("/cgi/orvanegate.exe?showuser=nobody&session=demo"))

    def test_password_and_profile_changes(self):
        self.register("chg1")

        def changepw(old, new):
            return self.post_form(("session", "demo"), ("command", "changepw"), ("id", "chg1"),
                                  ("pw0", old), ("pw1", new), ("pw2", new))

        self.assert_gate_page(pages.registration_accepted_page(), changepw("secret1", "secret2"))
        self.assert_gate_error(pages.PW_NOT_CHANGED, changepw("secret1", "secret3"))

        form = self.post_form(("session", "demo"), ("command", "changeprof1"), ("id", "chg1"),
                              ("pw", "secret2"))
        self.assertEqual(200, form.status)
        self.assertIn(b'name="command" value="changeprof2"', form.body)
        self.assertIn('Value="山田花子"'.encode("cp932"), form.body)
        self.assert_gate_page(b"", self.post_form(("session", "demo"), ("command", "changeprof1"),
                                                  ("id", "chg1"), ("pw", "secret1")))

        saved = self.post_multipart(("session", "demo"), ("command", "changeprof2"),
                                    ("id", "chg1"), ("pw", "secret2"), ("realname", "花子"),
                                    ("country", "日本"), ("comment", "a <b> & c"),
                                    ("mail", "m@example.com"))
        record = {"realname": "花子".encode("cp932"), "country": "日本".encode("cp932"),
                  "comment": b"a&nbsp;&lt;b&gt;&nbsp;&amp;&nbsp;c"}
        self.assert_gate_page(pages.profile_page("chg1", record), saved)

    def test_postings_and_their_error_pages(self):
        self.register("post1")
        image = pages.LEAF_IMAGE + b"\r\n--not a boundary\r\n"
        before = self.leaves()
        answer = self.post_multipart(*self.posting("post1", ("upfile", "Photo.PNG",
                                                            "image/png", image)))
        self.assert_gate_page(pages.file_accepted_page(), answer)
        added = sorted(self.leaves() - before)
        self.assertEqual(2, len(added), added)
        stored = [name for name in added if name.endswith(".png")][0]
        self.assertEqual(image, self.site.read("htdocs", "leaves", stored))
        self.assertEqual(image, self.get("/leaves/" + stored).body)

        refused = (("wrong password", "wrongpw", "表題", pages.LEAF_WRONG_PW),
                   ("blank title", "secret1", "", pages.BLANK))
        before = self.leaves()
        for label, pw, title, message in refused:
            with self.subTest(label):
                upload = ("upfile", "a.png", "image/png", image)
                answer = self.post_multipart(*self.posting("post1", upload, pw=pw, title=title))
                self.assert_gate_error(message, answer)
        self.assertEqual(before, self.leaves())

    def test_large_upload_is_stored_byte_for_byte(self):
        self.register("big1")
        image = random_bytes(BIG, seed=self.site.name)
        before = self.leaves()
        answer = self.post_multipart(*self.posting("big1", ("upfile", "big.png", "image/png",
                                                           image)))
        self.assert_gate_page(pages.file_accepted_page(), answer)
        stored = [n for n in self.leaves() - before if n.endswith(".png")]
        self.assertEqual(1, len(stored))
        self.assertTrue(image == self.site.read("htdocs", "leaves", stored[0]),
                        "the stored image differs from the upload")
        self.assertTrue(image == self.get("/leaves/" + stored[0]).body,
                        "the delivered image differs from the upload")

    def test_client_that_stops_halfway_stores_nothing(self):
        self.register("half1")
        body = pages.multipart(*self.posting("half1", ("upfile", "half.png", "image/png",
                                                      random_bytes(BIG, seed=2))))
        head = ("POST /cgi/orvanegate.exe HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                "Content-Type: %s\r\nContent-Length: %d\r\n\r\n"
                % (pages.multipart_type(), len(body))).encode()
        before, counter = self.leaves(), self.counter()
        self.abandon(head, body[:len(body) // 2])
        self.assert_gates_ended()
        self.assertEqual(before, self.leaves())
        self.assertEqual(counter, self.counter())
        self.assert_gate_page(pages.registration_accepted_page(), self.register("half2"))

    def counter(self):
        path = self.site.path("data", "leafcounter.txt")
        return self.site.read("data", "leafcounter.txt") if os.path.exists(path) else None

    def test_body_over_the_limit_is_refused_by_the_server(self):
        self.register("limit1")
        dumps = self.dumps()
        head = ("POST /cgi/orvanegate.exe HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                "Content-Type: %s\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
                % (pages.multipart_type(), LIMIT + 1)).encode()
        answer = self.answer_head(head)
        self.assertRegex(answer, rb"\AHTTP/1\.[01] 413 ")
        self.assert_gates_ended()
        self.assertEqual(dumps, self.dumps(), "the gate ran: it dumped the body")
        self.assert_gate_page(pages.registration_accepted_page(), self.register("limit2"))

    def test_kept_files_are_never_delivered(self):
        self.register("kept1", pw="kept-secret")
        self.post_form(("session", "demo"), ("command", "none"))
        self.site.read("data", "members", "kept1.txt")
        self.assertTrue(self.dumps(), "a dump to look for")
        dump = "/data/dumps/" + self.dumps()[0]
        paths = ("/cgi/config.txt", "/cgi/error.txt", "/cgi/", "/cgi/CONFIG.TXT",
                 "/cgi/orvanegate.exe/../config.txt", "/cgi/%2e%2e/cgi/config.txt",
                 "/cgi/..%2fcgi/config.txt", "/../cgi/config.txt", "/data/members/kept1.txt",
                 "/../data/members/kept1.txt", "/leaves/../../data/members/kept1.txt",
                 "/%2e%2e/data/members/kept1.txt", "/data/sessions/demo.txt",
                 "/../data/sessions/demo.txt", dump, "/.." + dump, "/data/", "/conf/",
                 "/../conf/lighttpd.conf")
        for path in paths:
            with self.subTest(path):
                answer = self.get(path)
                self.assertIn(answer.status, (400, 403, 404))
                for word in SECRET_WORDS + (b"kept-secret",):
                    self.assertNotIn(word, answer.body)

    def test_leaves_are_delivered_as_static_files_only(self):
        leaves = self.site.path("htdocs", "leaves")
        placed = {
            "page.html": b"<html><script>alert(1)</script></html>",
            "script.php": b"<?php echo 'ran' . 'php'; ?>",
            "script.cgi": b"#!/bin/sh\nprintf 'Content-Type: text/plain\\n\\nran cgi'\n",
            "include.shtml": b'<!--#echo var="DOCUMENT_NAME" -->',
            "picture.svg": b'<svg xmlns="http://www.w3.org/2000/svg"><script>1</script></svg>',
            "noextension": b"<html><body>sniff me</body></html>",
        }
        # An override file that would make scripts run where overrides are allowed.
        override = b"Options +ExecCGI +Includes\nAddHandler cgi-script .cgi\n"
        for name, data in dict(placed, **{".htaccess": override}).items():
            path = os.path.join(leaves, name)
            with open(path, "wb") as f:
                f.write(data)
            os.chmod(path, 0o755)
        for name, data in placed.items():
            with self.subTest(name):
                answer = self.get("/leaves/" + name)
                self.assertEqual(200, answer.status)
                self.assertEqual(data, answer.body)
                self.assertEqual("nosniff", answer.header("X-Content-Type-Options"))
                self.assertEqual("application/octet-stream", answer.header("Content-Type"))

        self.register("static1")
        self.post_multipart(*self.posting("static1", ("upfile", "s.png", "image/png",
                                                     pages.LEAF_IMAGE)))
        image = [n for n in self.leaves() if n.endswith(".png")][0]
        for path, content_type in (("/leaves/" + image, "image/png"),
                                   ("/leaves/", "text/html")):
            with self.subTest(path):
                answer = self.get(path)
                self.assertEqual(200, answer.status)
                self.assertEqual("nosniff", answer.header("X-Content-Type-Options"))
                self.assertTrue(answer.header("Content-Type").startswith(content_type))

    def test_site_check_as_the_servers_account(self):
        # The laid-out sessions pass; "locked" fails only where the check looks through the
        # server's account, which cannot create member records there.
        for sessions, code, holds in (
                (("demo", "gallery", "stamps"), 0, b"Result: 0 errors"),
                ((), 1, b"cannot create files in membersdb " + self.site.path(
                    "data", "locked-members").encode())):
            with self.subTest(sessions=sessions):
                exit_code, report = self.site.check(*sessions)
                self.assertEqual(code, exit_code, report.decode("cp932", "replace"))
                self.assertIn(holds, report)
                self.assertIn(b"as the account " + served_site.server_account_name().encode(),
                              report)

    def test_gate_failure_reaches_the_error_log(self):
        answer = self.register("logged1", session="locked")
        self.assertEqual(500, answer.status)
        deadline = time.monotonic() + 10
        # The registration's count is the first file it makes in the member directory.
        failed = self.site.path("data", "locked-members", ".guesses").encode()
        while failed not in self.site.error_log() and time.monotonic() < deadline:
            time.sleep(0.1)
        lines = [line for line in self.site.error_log().splitlines() if failed in line]
        self.assertTrue(lines, "the server's error log does not name the failed file")
        # The line also says which request failed: its method and the gate's script name.
        self.assertIn(b"POST", lines[0])
        self.assertIn(b"/cgi/orvanegate.exe", lines[0])

    def test_wrong_passwords_reach_the_error_log_as_the_shipped_filter_reads_them(self):
        self.assertEqual(200, self.register("guess1").status)
        for pw in ("wrong1", "wrong2", "wrong3", "wrong4", "wrong5", "secret1"):
            answer = self.post_form(("session", "demo"), ("command", "changepw"), ("id", "guess1"),
                                    ("pw0", pw), ("pw1", "secret2"), ("pw2", "secret2"))
            self.assertEqual(200, answer.status)
        self.assertIn(pages.sj(pages.TOO_MANY_WRONG), answer.body)
        failregex = fail2ban_failregex()
        deadline = time.monotonic() + 10
        while True:
            lines = [line for line in self.site.error_log().decode("latin-1").splitlines()
                     if "id guess1 " in line]
            if len(lines) >= 6 or time.monotonic() > deadline:
                break
            time.sleep(0.1)
        if os.environ.get("ORVANEGATE_SHOW_LOG_LINES"):
            print("\n".join(lines))
        hosts = []
        for line in lines:
            line = LOG_DATE.sub("", line)
            match = next((m for m in (r.search(line) for r in failregex) if m), None)
            if match:
                hosts.append(match.group("host"))
        self.assertEqual(["127.0.0.1"] * 6, hosts, lines)


def fail2ban_failregex():
    """The shipped filter's failregex lines as Python patterns, <ADDR> an IPv4 or IPv6
    address in a group "host"."""
    parser = configparser.ConfigParser()
    parser.read(os.path.join(os.path.dirname(__file__), "..", "..", "site",
                             "fail2ban-orvanegate.conf"), encoding="utf-8")
    lines = parser.get("Definition", "failregex").splitlines()
    return [re.compile(line.strip().replace("<ADDR>", r"(?P<host>[0-9A-Fa-f.:]+)"))
            for line in lines if line.strip()]


# The date that fail2ban takes off a line before its failregex is tried.
LOG_DATE = re.compile(r"^\d{4}/\d\d/\d\d \d\d:\d\d:\d\d|^\[\w{3} \w{3} \d\d [\d:.]+ \d{4}\]"
                      r"|^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:")


class HttpsCases(served_site.SiteCases):
    """Each server once over HTTPS with its sample: commands answered, plain HTTP sent
    there, Strict-Transport-Security on the answers, and the gate told the scheme."""

    def request(self, method, path, body=b"", headers=None, plain=False):
        conn = (http.client.HTTPConnection("127.0.0.1", self.site.http_port, timeout=TIMEOUT)
                if plain else self.site.connection(TIMEOUT))
        try:
            conn.request(method, path, body=body, headers=headers or {})
            return Answer(conn.getresponse())
        finally:
            conn.close()

    def test_the_site_answers_over_https_only(self):
        answer = self.request("GET", "/register.html?a=1", plain=True)
        self.assertEqual(301, answer.status)
        self.assertEqual("https://127.0.0.1:%d/register.html?a=1" % self.site.port,
                         answer.header("Location"))
        for origin, host, status, page in (
                (None, None, 200, pages.registration_accepted_page()),
                ("https://gate.test", "gate.test", 200, pages.registration_accepted_page()),
                ("https://evil.test", "gate.test", 403, None)):
            with self.subTest(origin=origin):
                member = "tls%d" % len(self.site.files("data", "members"))
                headers = {"Content-Type": "application/x-www-form-urlencoded"}
                headers.update({k: v for k, v in (("Origin", origin), ("Host", host)) if v})
                answer = self.request("POST", "/cgi/orvanegate.exe", pages.urlencoded(
                    ("session", "demo"), ("command", "registration"), ("id", member),
                    ("pw", "secret1"), ("pw2", "secret1"), ("realname", "x"), ("mail", "m"),
                    ("country", "x")), headers)
                self.assertEqual(status, answer.status)
                self.assertEqual("max-age=31536000", answer.header("Strict-Transport-Security"))
                if page:
                    cgi_harness.assert_bytes_equal(page, answer.body, "page")
                self.assertEqual(bool(page), os.path.exists(
                    self.site.path("data", "members", member + ".txt")))
        leaf = self.request("GET", "/leaves/")
        self.assertEqual("max-age=31536000", leaf.header("Strict-Transport-Security"))


class LighttpdTest(ServerCases, unittest.TestCase):
    SITE = served_site.Lighttpd


class ApacheTest(ServerCases, unittest.TestCase):
    SITE = served_site.Apache


class NginxTest(ServerCases, unittest.TestCase):
    SITE = served_site.Nginx


# The same cases with the gate in its persistent FastCGI mode.
class LighttpdFastCgiTest(ServerCases, unittest.TestCase):
    SITE = served_site.LighttpdFastCgi


class ApacheFastCgiTest(ServerCases, unittest.TestCase):
    SITE = served_site.ApacheFastCgi


class NginxFastCgiTest(ServerCases, unittest.TestCase):
    SITE = served_site.NginxFastCgi


class NginxSpawnFcgiTest(served_site.SiteCases, unittest.TestCase):
    SITE = served_site.NginxSpawnFcgi

    def test_processes_started_once_answer_20000_requests(self):
        processes = sorted(self.site.gate_processes())
        url = "http://127.0.0.1:%d/cgi/orvanegate.exe?showuser=a&session=demo" % self.site.port
        done = subprocess.run(["ab", "-n", "20000", "-c", "8", "-s", "30", url],
                              capture_output=True, timeout=240)
        self.assertRegex(done.stdout, rb"Complete requests: +20000\nFailed requests: +0\nTotal")
        self.assertEqual((4, processes), (len(processes), sorted(self.site.gate_processes())))


if __name__ == "__main__":
    unittest.main()


# Each server once over HTTPS: LighttpdHttpsTest, ..., NginxFastCgiHttpsTest.
for _server in ("Lighttpd", "Apache", "Nginx", "LighttpdFastCgi", "ApacheFastCgi", "NginxFastCgi"):
    globals()[_server + "HttpsTest"] = type(_server + "HttpsTest", (HttpsCases, unittest.TestCase), {
        "SITE": type(_server + "Https", (served_site.Https, getattr(served_site, _server)), {})})

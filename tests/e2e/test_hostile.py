"""An anonymous visitor on the open internet, through each real server with the shipped
configuration: a 64 MiB registration of quotes refused in bounded memory, the largest
record a member may have queried, junk bodies that leave nothing on disk, password guesses
slowed for the guessing address only, also sprayed over ids or sent at once, registration
floods bounded per address, client headers posing as the server's variables,
cross-site posts, framing and caching, and the gate's dot files in the leaf directories.

The gate runs behind a small wrapper that records each run's peak resident size through
/usr/bin/time; the figures (memory, times, sizes) are printed for the record. Run one
server's cases with ``python3 -m unittest test_hostile.LighttpdHostileTest`` (also Apache,
Nginx) and ORVANEGATE_EXE naming the built executable."""

import concurrent.futures
import http.client
import os
import random
import socket
import sys
import threading
import time
import unittest

import cgi_harness
import gate_pages as pages
import served_site
import test_servers

MIB = 1 << 20
# What every server lets through (larger bodies are answered 413 before the gate runs).
LIMIT = 64 * MIB
# The bound of a command's peak memory: twice its body plus this much, above the gate's
# own peak for an empty request.
ALLOWANCE = 4 * MIB
TIMEOUT = 120
TIME = "/usr/bin/time"
TOO_LONG = "The entry is too long. 入力が長すぎます"
TOO_MANY_GUESSES = ("Too many wrong passwords. Try again in a minute. "
                    "パスワードの誤りが続きました。1分後にもう一度お試しください")
GUESSES_ALLOWED = 5
TOO_MANY_REGISTRATIONS = ("Too many registrations from your network. Try again later. "
                          "登録が多すぎます。しばらくしてから再度お試しください")
# A second address of this machine: the server sees it as REMOTE_ADDR.
ATTACKER = "127.0.0.2"
FRAMING = {"X-Frame-Options": "SAMEORIGIN",
           "Content-Security-Policy": "frame-ancestors 'self'",
           "Cache-Control": "no-store"}
LEAF_DIRECTORIES = ("leaves", "gallery", "stamps")


def figure(text):
    """A measured figure, printed for the record."""
    print("figure: " + text, file=sys.stderr, flush=True)


def mib(count):
    return "%.1f MiB" % (count / MIB)


def quotes_registration(member_id, quotes):
    """A multipart registration whose realname is `quotes` bytes of '"'."""
    return pages.multipart(("session", "demo"), ("command", "registration"),
                           ("id", member_id), ("pw", "secret1"), ("pw2", "secret1"),
                           ("mail", "m@example.com"), ("country", "日本"),
                           ("realname", b'"' * quotes))


class Answer:
    def __init__(self, response, seconds):
        self.status = response.status
        self.headers = response.headers
        self.body = response.read()
        self.seconds = seconds

    def header(self, name):
        return self.headers.get(name)


class HostileCases(served_site.SiteCases):
    """The cases every server passes; a subclass names the server in SITE."""

    sanitized = False
    # The largest body sent: the servers' limit through one server, less through the others,
    # as a sanitizer build reads 64 MiB for many seconds and the cases are the same.
    BIG = 8 * MIB

    @classmethod
    def missing(cls):
        if not os.access(TIME, os.X_OK):
            return "%s is needed to read the gate's peak memory (Debian package time)" % TIME
        return None

    @classmethod
    def prepare_site(cls):
        cls.wrap_gate()  # the shipped configuration: no dumps

    @classmethod
    def wrap_gate(cls):
        """Puts a script in the gate's place that runs it under /usr/bin/time, appending
        each run's peak resident size (KiB) to logs/gate-peak.txt. The gate stays in cgi/,
        so it finds its config.txt as before. lighttpd ends a CGI program that is still
        there once its answer is whole: the wrapper ignores that, so that time writes its
        figure."""
        gate = cls.site.path("cgi", "orvanegate.exe")
        real = cls.site.path("cgi", "orvanegate.real")
        with open(gate, "rb") as f:
            # A sanitizer build keeps freed blocks aside and shadows the heap by an eighth:
            # its figures get that eighth, and no quarantine.
            cls.sanitized = b"AddressSanitizer" in f.read()
        os.rename(gate, real)
        script = ("#!/bin/sh\ntrap '' TERM\n"
                  "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=0\n"
                  "export ASAN_OPTIONS\nexec %s -f %%M -a -o %s %s\n"
                  % (TIME, cls.site.path("logs", "gate-peak.txt"), real))
        with open(gate + ".new", "w") as f:
            f.write(script)
        os.chmod(gate + ".new", 0o755)
        os.rename(gate + ".new", gate)

    # --- client ----------------------------------------------------------------
    def request(self, method, path, body=None, headers=None, source=None):
        conn = http.client.HTTPConnection("127.0.0.1", self.site.port, timeout=TIMEOUT,
                                          source_address=(source, 0) if source else None)
        try:
            started = time.monotonic()
            conn.request(method, path, body=body, headers=headers or {})
            return Answer(conn.getresponse(), time.monotonic() - started)
        finally:
            conn.close()

    def post_form(self, *pairs, headers=None, source=None):
        return self.request("POST", "/cgi/orvanegate.exe", pages.urlencoded(*pairs),
                            dict({"Content-Type": "application/x-www-form-urlencoded"},
                                 **(headers or {})), source)

    def post_multipart(self, body, headers=None):
        return self.request("POST", "/cgi/orvanegate.exe", body,
                            dict({"Content-Type": pages.multipart_type()}, **(headers or {})))

    def register(self, member_id, headers=None, source=None):
        return self.post_form(("session", "demo"), ("command", "registration"),
                              ("id", member_id), ("pw", "secret1"), ("pw2", "secret1"),
                              ("realname", "山田花子"), ("mail", "m@example.com"),
                              ("country", "日本"), headers=headers, source=source)

    def change_profile_form(self, member_id, pw, source):
        return self.post_form(("session", "demo"), ("command", "changeprof1"),
                              ("id", member_id), ("pw", pw), source=source)

    def refusal_hosts(self, what):
        """The addresses the shipped fail2ban filter reads off the error log's lines of
        the refusal."""
        failregex = test_servers.fail2ban_failregex()
        hosts = []
        for line in self.site.error_log().decode("latin-1").splitlines():
            line = test_servers.LOG_DATE.sub("", line)
            match = next((m for m in (r.search(line) for r in failregex) if m), None)
            if match and ("orvanegate: %s:" % what) in line:
                hosts.append(match.group("host"))
        return hosts

    # --- measures --------------------------------------------------------------
    def peaks(self):
        """The peaks recorded so far, one a gate run (time adds a line of its own before
        the figure when the gate's exit code is not 0)."""
        try:
            with open(self.site.path("logs", "gate-peak.txt")) as f:
                return [int(line) * 1024 for line in f.read().splitlines() if line.isdigit()]
        except FileNotFoundError:
            return []

    def settle(self):
        """Waits until no gate run is being timed: each writes its figure as it ends, which
        may follow its answer."""
        mark = self.site.path("logs", "gate-peak.txt").encode()
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            timing = False
            for pid in filter(str.isdigit, os.listdir("/proc")):
                try:
                    with open("/proc/%s/cmdline" % pid, "rb") as f:
                        timing = timing or mark in f.read()
                except OSError:
                    pass
            if not timing:
                return
            time.sleep(0.05)
        self.fail("a timed gate run did not end")

    def measured(self, send):
        """The answer of send() and the largest peak of the gate runs it caused."""
        self.settle()
        before = len(self.peaks())
        answer = send()
        self.settle()
        new = self.peaks()[before:]
        self.assertTrue(new, "the gate did not run")
        return answer, max(new)

    def idle_peak(self):
        return self.measured(lambda: self.request("GET", "/cgi/orvanegate.exe"))[1]

    def assert_memory_bounded(self, label, body_size, peak):
        idle = self.idle_peak()
        bound = 2 * body_size + ALLOWANCE
        if self.sanitized:
            bound += bound // 8
        figure("%s %s: body %s, peak %s, %s above the idle %s (bound %s%s)" % (
            self.site.name, label, mib(body_size), mib(peak), mib(peak - idle), mib(idle),
            mib(bound), ", sanitizer build" if self.sanitized else ""))
        self.assertLessEqual(peak - idle, bound, label)

    def disk(self):
        """Every file the gate or the server may write, with its size: the data, the
        published leaves and the server's working files."""
        found = {}
        for top in ("data", "htdocs", "run"):
            for name in self.site.files(top):
                path = self.site.path(top, name)
                if os.path.isfile(path) and not name.endswith((".pid", ".sock")):
                    found[os.path.join(top, name)] = os.path.getsize(path)
        return found

    def log_bytes(self):
        return sum(os.path.getsize(self.site.path("logs", n))
                   for n in os.listdir(self.site.path("logs")))

    def assert_disk_unchanged(self, before, label):
        # A server may remove its buffer file of a body a moment after it answered.
        deadline = time.monotonic() + 10
        while self.disk() != before and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(before, self.disk(), label)

    def assert_gate_error(self, message, answer):
        self.assertEqual(200, answer.status)
        cgi_harness.assert_bytes_equal(pages.error_page(message), answer.body, "page")

    # --- cases -----------------------------------------------------------------
    def test_quotes_registration_is_refused_in_bounded_memory(self):
        overhead = len(quotes_registration("quotes1", 0))
        body = quotes_registration("quotes1", self.BIG - 4096 - overhead)
        label = "%s registration of quotes" % mib(len(body))
        before = self.disk()
        answer, peak = self.measured(lambda: self.post_multipart(body))
        figure("%s %s: answered in %.2f s" % (self.site.name, label, answer.seconds))
        self.assert_memory_bounded(label, len(body), peak)
        self.assert_gate_error(TOO_LONG, answer)
        self.assert_disk_unchanged(before, "the refused registration wrote something")

    def test_largest_allowed_record_is_queried_within_its_bound(self):
        # About 60,000 bytes escaped: a record just below the 64 KiB a record may take.
        body = quotes_registration("largest1", 10000)
        self.assertEqual(200, self.post_multipart(body).status)
        record = self.site.read("data", "members", "largest1.txt")
        self.assertIn(b"&quot;" * 10000, record)
        answer, peak = self.measured(
            lambda: self.request("GET", "/cgi/orvanegate.exe?showuser=largest1&session=demo"))
        self.assertEqual(200, answer.status)
        self.assertIn(b"&quot;" * 10000, answer.body)
        figure("%s query of the largest record (%d bytes): %d bytes sent in %.3f s" % (
            self.site.name, len(record), len(answer.body), answer.seconds))
        self.assert_memory_bounded("query of the largest record", 0, peak)

    def test_anonymous_junk_bodies_add_nothing_to_disk(self):
        bodies = (
            ("random bytes", random.Random(23).randbytes(self.BIG - 4096),
             pages.multipart_type()),
            ("form for no session", b"session=nosuch&command=registration&id=x&realname="
             + b"%22" * MIB, "application/x-www-form-urlencoded"),
            ("form without a command", b"session=demo&" + b"a=b&" * 100000,
             "application/x-www-form-urlencoded"),
        )
        before, logs = self.disk(), self.log_bytes()
        started = time.monotonic()
        for label, body, content_type in bodies:
            with self.subTest(label):
                answer = self.request("POST", "/cgi/orvanegate.exe", body,
                                      {"Content-Type": content_type})
                self.assertEqual(200, answer.status)
        self.assert_disk_unchanged(before, "anonymous junk was kept")
        grown = self.log_bytes() - logs
        figure("%s %d junk bodies (%s) in %.1f s: nothing kept, logs grew %d bytes" % (
            self.site.name, len(bodies), mib(sum(len(b) for _, b, _ in bodies)),
            time.monotonic() - started, grown))
        self.assertLess(grown, 64 * 1024, "the bodies reached a log")

    def test_guesses_are_slowed_for_the_guessing_address_only(self):
        self.assertEqual(200, self.register("guess1").status)

        def changepw(old, source):
            return self.post_form(("session", "demo"), ("command", "changepw"), ("id", "guess1"),
                                  ("pw0", old), ("pw1", "secret9"), ("pw2", "secret9"),
                                  source=source)

        def change_profile_form(source):
            return self.post_form(("session", "demo"), ("command", "changeprof1"),
                                  ("id", "guess1"), ("pw", "secret1"), source=source)

        tries = 30
        started = time.monotonic()
        answers = [changepw("guess%03d" % n, ATTACKER) for n in range(tries)]
        seconds = time.monotonic() - started
        checked = [a for a in answers if a.body == pages.error_page(pages.PW_NOT_CHANGED)]
        refused = [a for a in answers if a.body == pages.error_page(TOO_MANY_GUESSES)]
        figure("%s %d guesses from %s in %.2f s: %d checked, %d refused unchecked" % (
            self.site.name, tries, ATTACKER, seconds, len(checked), len(refused)))
        self.assertEqual(GUESSES_ALLOWED, len(checked))
        self.assertEqual(tries - GUESSES_ALLOWED, len(refused))
        # The right password from the guessing address is not even checked.
        self.assert_gate_error(TOO_MANY_GUESSES, changepw("secret1", ATTACKER))
        self.assertIn(b'name="command" value="changeprof2"',
                      change_profile_form("127.0.0.1").body)
        self.assertIn(b"orvanegate: too many wrong passwords", self.site.error_log())

    def test_one_password_sprayed_over_ids_is_refused_after_twenty(self):
        sprayer, member_ids = "127.0.0.3", ["spray%d" % n for n in range(6)]
        for member_id in member_ids:
            self.assertEqual(200, self.register(member_id, source="127.0.0.4").status)
        started = time.monotonic()
        answers = [self.change_profile_form(member_id, "guess%d" % n, sprayer)
                   for member_id in member_ids[:5] for n in range(4)]
        answers.append(self.change_profile_form(member_ids[5], "secret1", sprayer))
        figure("%s 21 guesses over 6 ids from %s in %.2f s: %d checked" % (
            self.site.name, sprayer, time.monotonic() - started,
            sum(a.body == b"" for a in answers)))
        self.assertEqual([b""] * 20, [a.body for a in answers[:20]])
        self.assert_gate_error(TOO_MANY_GUESSES, answers[20])
        self.assertIn(b'value="changeprof2"',
                      self.change_profile_form(member_ids[5], "secret1", "127.0.0.1").body)

    def test_of_a_burst_at_once_no_more_are_checked_than_allowed(self):
        self.assertEqual(200, self.register("burst1").status)
        with concurrent.futures.ThreadPoolExecutor(20) as pool:
            answers = list(pool.map(lambda n: self.change_profile_form(
                "burst1", "guess%02d" % n, "127.0.0.5"), range(20)))
        checked = sum(a.body == b"" for a in answers)
        figure("%s 20 guesses at once: %d checked" % (self.site.name, checked))
        self.assertEqual(GUESSES_ALLOWED, checked)
        for answer in answers:
            if answer.body:
                self.assert_gate_error(TOO_MANY_GUESSES, answer)

    def test_registrations_from_one_address_are_bounded_per_hour(self):
        flooder = "127.0.0.6"
        started = time.monotonic()
        answers = [self.register("flood%02d" % n, source=flooder) for n in range(21)]
        figure("%s 21 registrations from %s in %.2f s" % (
            self.site.name, flooder, time.monotonic() - started))
        for answer in answers[:20]:
            self.assertEqual(200, answer.status)
            cgi_harness.assert_bytes_equal(pages.registration_accepted_page(), answer.body)
        self.assert_gate_error(TOO_MANY_REGISTRATIONS, answers[20])
        self.assertNotIn("flood20.txt", os.listdir(self.site.path("data", "members")))
        self.assertEqual(200, self.register("flood20").status)  # another address
        deadline = time.monotonic() + 10
        while not self.refusal_hosts("too many registrations") and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual([flooder], self.refusal_hosts("too many registrations"))

    def test_client_headers_posing_as_server_variables_are_ignored(self):
        # lighttpd passes "Content.Length:" on as HTTP_CONTENT_LENGTH, and every server
        # passes "Path-Info:" as HTTP_PATH_INFO.
        for label, headers in (("Content.Length short", {"Content.Length": "5"}),
                               ("Content.Length huge", {"Content.Length": "2000000000"}),
                               ("Content.Type", {"Content.Type": "text/plain"}),
                               ("Path-Info", {"Path-Info": "/cgi/orvanegate.exe/x"})):
            with self.subTest(label):
                member_id = "hdr" + "".join(c for c in label.lower() if c.isalpha())
                answer = self.register(member_id, headers)
                self.assertEqual(200, answer.status)
                cgi_harness.assert_bytes_equal(pages.registration_accepted_page(),
                                               answer.body, "page")
                self.assertEqual(pages.registration_record(
                    member_id, "secret1", "山田花子", "日本", "m@example.com"),
                    pages.hash_checked(self.site.read("data", "members", member_id + ".txt"),
                                       b"secret1", b"pw=secret1"))

    def test_cross_site_posts_are_refused_before_the_gate(self):
        self.settle()
        before, started = self.disk(), len(self.peaks())
        posting = pages.multipart(("session", "demo"), ("command", "postleaf"), ("id", "x1"),
                                  ("pw", "secret1"), ("upfile", "a.png", "image/png",
                                                      pages.LEAF_IMAGE))
        sends = (("registration", lambda h: self.register("cross1", h)),
                 ("posting", lambda h: self.post_multipart(posting, h)),
                 ("text/plain shaped as multipart", lambda h: self.request(
                     "POST", "/cgi/orvanegate.exe", posting, dict(h, **{
                         "Content-Type": "text/plain"}))))
        # Over HTTPS a browser says cross-site, which every server refuses itself; over
        # plain HTTP it sends only the Origin, which the gate refuses where a server cannot.
        for headers in ({"Sec-Fetch-Site": "cross-site"}, {"Sec-Fetch-Site": "same-site"},
                        {"Origin": "http://evil.test"}, {"Origin": "null"}):
            for label, send in sends:
                with self.subTest(label, **headers):
                    self.assertEqual(403, send(headers).status)
            if headers.get("Sec-Fetch-Site") == "cross-site":
                self.settle()
                self.assertEqual(started, len(self.peaks()), "the gate ran for a cross-site post")
        self.assert_disk_unchanged(before, "a cross-site post was stored")
        own = {"Origin": "http://127.0.0.1:%d" % self.site.port}
        for site in ("same-origin", "none", None):
            with self.subTest(site):
                headers = dict(own, **{"Sec-Fetch-Site": site}) if site else {}
                answer = self.register("cross%s" % (site or "absent").replace("-", ""), headers)
                cgi_harness.assert_bytes_equal(pages.registration_accepted_page(),
                                               answer.body, "page")
        # A link from another site still shows a profile.
        answer = self.request("GET", "/cgi/orvanegate.exe?showuser=crossnone&session=demo",
                              headers={"Sec-Fetch-Site": "cross-site"})
        self.assertEqual(200, answer.status)
        self.assertIn(b"crossnone", answer.body)

    def test_answers_and_forms_may_not_be_framed_or_kept(self):
        self.assertEqual(200, self.register("frame1").status)
        requests = (
            ("index", lambda: self.request("GET", "/")),
            ("registration form", lambda: self.request("GET", "/register.html")),
            ("change-profile form", lambda: self.request("GET", "/changeprof.html")),
            ("profile query", lambda: self.request(
                "GET", "/cgi/orvanegate.exe?showuser=frame1&session=demo")),
            ("change-profile answer", lambda: self.post_form(
                ("session", "demo"), ("command", "changeprof1"), ("id", "frame1"),
                ("pw", "secret1"))),
            ("error page", lambda: self.post_form(("session", "nosuch"),
                                                  ("command", "registration"))),
        )
        for label, send in requests:
            with self.subTest(label):
                answer = send()
                for name, value in FRAMING.items():
                    self.assertEqual(value, answer.header(name), name)

    def test_dot_files_in_leaf_directories_are_never_delivered(self):
        secret = b"slot note of the gate"
        paths = []
        for directory in LEAF_DIRECTORIES:
            top = self.site.path("htdocs", directory)
            os.makedirs(os.path.join(top, ".dir"), exist_ok=True)
            for name in (".leaf0", ".leaf0i", ".hidden.png", ".dir/x.png"):
                with open(os.path.join(top, name), "wb") as f:
                    f.write(secret)
            paths += ["/%s/.leaf0" % directory, "/%s/%%2eleaf0i" % directory,
                      "/%s/.hidden.png" % directory, "/%s/.dir/x.png" % directory,
                      "/%s/x/../.leaf0" % directory]
        for path in paths:
            with self.subTest(path):
                answer = self.request("GET", path)
                self.assertIn(answer.status, (403, 404))
                self.assertNotIn(secret, answer.body)
        for directory in LEAF_DIRECTORIES:
            with self.subTest(listing=directory):
                self.assertNotIn(b".leaf0", self.request("GET", "/%s/" % directory).body)


class LighttpdHostileTest(HostileCases, unittest.TestCase):
    SITE = served_site.Lighttpd
    BIG = LIMIT


class ApacheHostileTest(HostileCases, unittest.TestCase):
    SITE = served_site.Apache


class NginxWithChildren(served_site.Nginx):
    """fcgiwrap as the guide starts it: one slow request does not hold up the others."""
    fcgi_children = 4


class NginxHostileTest(HostileCases, unittest.TestCase):
    SITE = NginxWithChildren


class PersistentHostileCases(HostileCases):
    """The same attacks on the persistent FastCGI deployments. Their gate processes run
    before a wrapper could be put in place and live on: a command's memory is the growth of
    the largest peak (VmHWM) of any gate process while it is answered."""

    @classmethod
    def wrap_gate(cls):
        with open(cls.site.path("cgi", "orvanegate.exe"), "rb") as f:
            cls.sanitized = b"AddressSanitizer" in f.read()

    def gate_peaks(self):
        gate = os.path.realpath(self.site.path("cgi", "orvanegate.exe"))
        found = {}
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                if os.path.realpath("/proc/%s/exe" % pid) != gate:
                    continue
                with open("/proc/%s/status" % pid) as f:
                    for line in f:
                        if line.startswith("VmHWM:"):
                            found[pid] = int(line.split()[1]) * 1024
            except OSError:
                pass
        return found

    def measured(self, send):
        before = self.gate_peaks()
        self.assertTrue(before, "no gate process runs")
        answer = send()
        after = self.gate_peaks()
        return answer, max(peak - before.get(pid, 0) for pid, peak in after.items())

    def idle_peak(self):
        return 0

    def test_slow_bodies_do_not_hold_the_gate_processes(self):
        self.assertEqual(200, self.register("slow1").status)
        slow = [socket.create_connection(("127.0.0.1", self.site.port)) for _ in range(4)]
        for conn in slow:
            conn.sendall(b"POST /cgi/orvanegate.exe HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                         b"Content-Length: 600000\r\n\r\n")
        stop = threading.Event()

        def dribble():  # 600 bytes a second each, of bodies that never end within the case
            while not stop.wait(1):
                for conn in slow:
                    conn.sendall(b"x" * 600)

        sender = threading.Thread(target=dribble)
        sender.start()
        try:
            time.sleep(2)
            answer = self.request("GET", "/cgi/orvanegate.exe?showuser=slow1&session=demo")
        finally:
            stop.set()
            sender.join()
            for conn in slow:
                conn.close()
        figure("%s profile query beside 4 slow bodies: %.2f s" % (self.site.name, answer.seconds))
        self.assertIn("山田花子".encode("cp932"), answer.body)
        self.assertLess(answer.seconds, 2)

class LighttpdFastCgiHostileTest(PersistentHostileCases, unittest.TestCase):
    SITE = served_site.LighttpdFastCgi
    BIG = LIMIT


class ApacheFastCgiHostileTest(PersistentHostileCases, unittest.TestCase):
    SITE = served_site.ApacheFastCgi


class NginxFastCgiHostileTest(PersistentHostileCases, unittest.TestCase):
    SITE = served_site.NginxFastCgi


if __name__ == "__main__":
    unittest.main()

"""The persistent FastCGI mode against CGI mode: requests of different members, sessions
and commands interleaved in one process get the bytes that a process per request gives;
a failing request, a client that hangs up, the request bound and memory after an upload;
connections that may not hold a process: silent ones, huge parameters, other hosts."""

import contextlib
import os
import re
import socket
import struct
import time
import unittest

import cgi_harness
import fastcgi_client
import gate_pages as pages
import test_gate_accounts
import test_kill_safety
from gate_pages import leaf_posting as posting
from gate_site import leaf_site

# A request's time stamp, with the suffix a name takes when another request of the same
# millisecond holds the stamp (the persistent process may answer two in one).
STAMP = re.compile(rb"\d{8}-\d{6}-\d{3}(?:\d{3})?")
# The time of a counted wrong password, in seconds: the two sites' requests may fall
# into different seconds.
COUNT_TIME = re.compile(rb"^\d+(?=\r\n)")
MIB = 1 << 20


def command(session, name, *pairs):
    return pages.urlencoded(("session", session), ("command", name), *pairs)


def register(session, member_id, pw="secret"):
    return command(session, "registration", ("id", member_id), ("pw", pw), ("pw2", pw),
                   ("realname", "R " + member_id), ("mail", member_id + "@x.jp"))


# (label, request): a form body, ("GET", query) or ("multipart", parts).
INTERLEAVED = (
    ("registration", register("site1", "taro")),
    ("registration, other session", register("site2", "hanako")),
    ("profile query", ("GET", "showuser=taro&session=site1")),
    ("status 500: a directory at the record", register("site1", "jiro")),
    ("taken id", register("site1", "taro")),
    ("profile query, other session", ("GET", "showuser=hanako&session=site2")),
    ("posting", ("multipart", posting())),
    ("wrong password", command("site1", "changepw", ("id", "taro"), ("pw0", "wrong"),
                               ("pw1", "Secret2"), ("pw2", "Secret2"))),
    ("posting, wrong password", ("multipart", posting(password=b"wrong"))),
    ("password change", command("site1", "changepw", ("id", "taro"), ("pw0", "secret"),
                                ("pw1", "Secret2"), ("pw2", "Secret2"))),
    ("status 500 again", ("GET", "showuser=jiro&session=site1")),
    ("profile form", command("site1", "changeprof1", ("id", "taro"), ("pw", "Secret2"))),
    ("no session", ("GET", "showuser=taro&session=nosuch")),
    ("profile save", command("site1", "changeprof2", ("id", "taro"), ("pw", "Secret2"),
                             ("realname", "T2"), ("mail", "m"))),
    ("posting without a file", ("multipart", posting(upload=None))),
    ("missing member", ("GET", "showuser=nobody&session=site2")),
    ("profile query after the save", ("GET", "showuser=taro&session=site1")),
    ("empty query", ("GET", "")),
)


def request_of(site, request):
    if request[0] == "GET":
        return cgi_harness.cgi_env("GET", query=request[1]), b""
    if request[0] == "multipart":
        body = pages.multipart(*request[1])
        return site.post_env(body, content_type=pages.multipart_type()), body
    return site.post_env(request), request


def two_session_site(test):
    """site1 and site2 with member directories of their own; a directory stands at jiro's
    record, so that every request about jiro fails with status 500."""
    site = leaf_site(test)
    os.mkdir(site.path("members2"))
    site.write_session("site2", "path=%s/\r\nmembersdb=%s/\r\n"
                       % (site.leaves, site.path("members2")))
    os.mkdir(site.member_path("jiro"))
    return site


def site_files(site):
    """Every file under the site but the executable, as {path: sorted [bytes]}, with time
    stamps in names and contents and the site's root in contents masked: files whose names
    differ only in their stamps are one entry."""
    found = {}
    for folder, _, files in os.walk(site.root):
        for name in files:
            path = os.path.join(folder, name)
            if path == site.exe:
                continue
            with open(path, "rb") as handle:
                data = handle.read()
            relative = os.path.relpath(path, site.root).encode()
            data = STAMP.sub(b"STAMP", data).replace(site.root.encode(), b"ROOT")
            if b"/.guesses/" in path.encode():
                data = COUNT_TIME.sub(b"TIME", data)
            found.setdefault(STAMP.sub(b"STAMP", relative), []).append(data)
    return {name: sorted(contents) for name, contents in found.items()}


def open_files(pid):
    folder = "/proc/%d/fd" % pid
    return [os.readlink(os.path.join(folder, fd)) for fd in os.listdir(folder)]


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def port_answers(host, port, query):
    try:
        return b"Status: 200" in fastcgi_client.request((host, port), query, timeout=5).stdout
    except ConnectionRefusedError:
        return False


# The address sanitizer's shadow of the x86-64 address space: the sanitizer may keep the
# shadow of a freed block resident, which is its memory, not the program's.
SANITIZER_SHADOW = range(0x7FFF8000, 0x10007FFF8000)


def rss_bytes(pid):
    """Resident memory of the process, the sanitizer's shadow left out."""
    total, counted = 0, True
    with open("/proc/%d/smaps" % pid) as maps:
        for line in maps:
            head = line.split(None, 1)[0]
            if "-" in head and not head.endswith(":"):
                counted = int(head.split("-")[0], 16) not in SANITIZER_SHADOW
            elif head == "Rss:" and counted:
                total += int(line.split()[1]) * 1024
    return total


@unittest.skipIf(cgi_harness.under_wine(), "the Windows build answers CGI requests only")
class Persistent(cgi_harness.CgiTestCase):
    def start_responder(self, site, env=None, args=()):
        responder = cgi_harness.Responder(site.exe, site.root, env, args)
        self.addCleanup(self.assert_clean_stop, responder)
        return responder

    def assert_clean_stop(self, responder):
        code, output = responder.stop()
        self.assertEqual((0, b""), (code, output), cgi_harness.escape_bytes(output))

    def test_interleaved_requests_answer_as_a_process_per_request(self):
        cgi_site, fcgi_site = two_session_site(self), two_session_site(self)
        responder = self.start_responder(fcgi_site)
        for label, request in INTERLEAVED:
            with self.subTest(label):
                expected = cgi_site.run(*request_of(cgi_site, request))
                actual = responder.run(*request_of(fcgi_site, request))
                # Paths in a status-500 page and its log line name the site's own root.
                for part in ("stdout", "stderr"):
                    self.assertBytesEqual(
                        getattr(expected, part).replace(cgi_site.root.encode(),
                                                        fcgi_site.root.encode()),
                        getattr(actual, part), label + " " + part)
                self.assertEqual(expected.exit_code, actual.exit_code)
        self.assertIn(b"Status: 500", cgi_site.run(*request_of(cgi_site, INTERLEAVED[3][1])).stdout)
        self.assertEqual(site_files(cgi_site), site_files(fcgi_site))
        # Between requests the process holds no file of the site, and so no lock.
        self.assertEqual([], [path for path in open_files(responder.child.pid)
                              if path.startswith(fcgi_site.root + "/")])

    def test_client_hanging_up_ends_only_its_request(self):
        site = leaf_site(self)
        responder = self.start_responder(site)
        env, body = request_of(site, ("multipart", posting()))
        query = cgi_harness.cgi_env("GET", query="showuser=m1&session=site1")
        expected = site.run(query).stdout
        # Mid-body, before any byte of the reply, and with the reply left unread.
        fastcgi_client.request(responder.address, env, body, stop_after=len(body) // 2)
        fastcgi_client.request(responder.address, env, b"", stop_after=0)
        fastcgi_client.request(responder.address, query, read_reply_too=False)
        self.assertBytesEqual(expected, responder.run(query).stdout)
        self.assertEqual({}, {n: d for n, d in site.leaf_files().items() if n != "counter.txt"})
        self.assertIn(b"Status: 200", responder.run(env, body).stdout)
        self.assertEqual(2, len(site.leaf_files()))

    def test_process_exits_after_its_request_bound(self):
        query = cgi_harness.cgi_env("GET", query="showuser=m1&session=site1")
        for label, env, args in (("variable", {"ORVANEGATE_MAX_REQUESTS": "3"}, ()),
                                 ("option", {}, ("--max-requests", "3"))):
            with self.subTest(label):
                site = leaf_site(self)
                responder = self.start_responder(site, env, args)
                for _ in range(3):
                    self.assertIn(b"Status: 200", responder.run(query).stdout)
                self.assertEqual(0, responder.wait())
                with self.assertRaises(OSError):
                    fastcgi_client.request(responder.address, query, timeout=2)

    def test_own_socket_from_the_option(self):
        site = leaf_site(self)
        address = os.path.join(self.make_site().root, "gate.sock")
        responder = self.start_responder(site, {}, ("--fastcgi", address, "--max-requests", "2"))
        query = cgi_harness.cgi_env("GET", query="showuser=m1&session=site1")
        expected = site.run(query).stdout
        deadline = time.monotonic() + 20
        while not os.path.exists(address) and time.monotonic() < deadline:
            time.sleep(0.02)
        responder.address = address
        for _ in range(2):
            self.assertBytesEqual(expected, responder.run(query).stdout)
        self.assertEqual(0, responder.wait())

    def test_memory_returns_after_a_64_mib_upload(self):
        site = leaf_site(self, maxfilesize="100000000")
        # The sanitizer's quarantine would hold freed memory back on purpose.
        responder = self.start_responder(site, {"ASAN_OPTIONS": "quarantine_size_mb=0"})
        small_env, small_body = request_of(site, ("multipart", posting()))
        responder.run(small_env, small_body)
        idle = rss_bytes(responder.child.pid)
        image = b"\xff\xd8" + os.urandom(64 * MIB)
        env, body = request_of(site, ("multipart", posting(upload=(b"big.jpg", b"image/jpeg",
                                                                    image))))
        reply = responder.run(env, body, timeout=120)
        self.assertBytesEqual(pages.file_accepted_page(), reply.stdout.partition(b"\r\n\r\n")[2])
        self.assertEqual(2, len([n for n in site.leaf_files() if n.endswith(".jpg")]))
        after = rss_bytes(responder.child.pid)
        self.assertLess(after - idle, 4 * MIB, "idle %d, after %d" % (idle, after))

    def test_password_hashes_reuse_one_work_area(self):
        # Each changepw hashes twice; only the first hash of the process maps and faults in
        # its 19 MiB (about 4,900 pages), and the process holds no more after many.
        site = test_gate_accounts.store_site(
            self, b"argon2id", b"id=taro\r\npwhash=" + test_gate_accounts.VECTORS["linux"] + b"\r\n")
        responder = self.start_responder(site, {"ASAN_OPTIONS": "quarantine_size_mb=0"})
        passwords = ("Secret1", "NewPass1", "NewPass2", "NewPass3", "NewPass4")
        figures = []
        for old, new in zip(passwords, passwords[1:]):
            body = pages.urlencoded(*test_gate_accounts.command(
                "changepw", ("id", "taro"), ("pw0", old), ("pw1", new), ("pw2", new)))
            site.assert_page(pages.registration_accepted_page(),
                             responder.run(site.post_env(body), body).stdout)
            with open("/proc/%d/stat" % responder.child.pid) as stat:
                figures.append((int(stat.read().rsplit(")", 1)[1].split()[7]),
                                rss_bytes(responder.child.pid)))
        for (faults, rss), (later_faults, later_rss) in zip(figures, figures[1:]):
            self.assertLess(later_faults - faults, 1000, figures)
            self.assertLess(later_rss - rss, 2 * MIB, figures)

    def test_connections_that_would_hold_a_process_are_closed_or_never_made(self):
        site = leaf_site(self)
        responder = self.start_responder(site, {"ORVANEGATE_IDLE_TIMEOUT": "1",
                                                "ASAN_OPTIONS": "quarantine_size_mb=0"})
        query = cgi_harness.cgi_env("GET", query="showuser=m1&session=site1")
        responder.run(query)
        idle = rss_bytes(responder.child.pid)
        begin = fastcgi_client.record(fastcgi_client.BEGIN_REQUEST, struct.pack(">HB5x", 1, 0))
        params = fastcgi_client.stream(fastcgi_client.PARAMS, fastcgi_client.encode_params(query))
        # A value declared 256 MiB long, sent on until the responder stops taking it.
        huge = ([begin + fastcgi_client.record(fastcgi_client.PARAMS, b"\x04\x90\0\0\0HUGE")]
                + [fastcgi_client.record(fastcgi_client.PARAMS, b"x" * 65528)] * 4096)
        # Management records whose answers fill the socket while the server reads none.
        unread = [fastcgi_client.record(99, b"", request_id=0) * 4096]
        for label, chunks, read in (("nothing sent", [], True), ("begin only", [begin], True),
                                    ("no body", [begin + params], True),
                                    ("256 MiB parameter", huge, True),
                                    ("replies never read", unread, False)):
            with self.subTest(label), fastcgi_client.connect(responder.address, 5) as conn:
                try:
                    for chunk in chunks:
                        conn.sendall(chunk)
                except OSError:
                    pass  # refused as it came
                conn.settimeout(10)  # a socket.timeout where the connection is kept
                with contextlib.suppress(ConnectionResetError):
                    while read and conn.recv(65536):
                        pass
                self.assertIn(b"Status: 200", responder.run(query).stdout)
        self.assertLess(rss_bytes(responder.child.pid) - idle, 4 * MIB)
        # Parameters of just under 1 MiB in all are answered.
        big = dict(query, HTTP_X_BIG="y" * (MIB - 4096))
        self.assertIn(b"Status: 200", responder.run(big).stdout)
        # ":PORT" on this machine only (another address of it stands for another host).
        for host, other_host_reaches in (("", False), ("0.0.0.0", True)):
            with self.subTest(host or ":PORT"):
                port = free_port()
                self.start_responder(site, {}, ("--fastcgi", "%s:%d" % (host, port)))
                deadline = time.monotonic() + 20
                while not port_answers("127.0.0.1", port, query):
                    self.assertLess(time.monotonic(), deadline)
                    time.sleep(0.05)
                self.assertEqual(other_host_reaches, port_answers("127.0.0.2", port, query))

    def test_manager_replaces_a_killed_process_at_once(self):
        manager = test_kill_safety.Manager(leaf_site(self))
        self.addCleanup(manager.stop)
        start = time.monotonic()
        for _ in range(5):
            manager.kill()
        manager.process()
        self.assertLess(time.monotonic() - start, 4, "the site waited for its process")


if __name__ == "__main__":
    unittest.main()

"""Two web servers over one site on a replicated GlusterFS volume.

Each server is its own copy of the executable with its own config.txt and site
settings, on local disk, and reaches the site through its own FUSE mount of the volume,
so the two have separate client caches, as two machines behind a load balancer would.
Requests alternate between the servers and run at the same time; every result must be
as exact as on one machine. The volume and the mounts keep GlusterFS's default settings.
"""

import errno
import itertools
import os
import re
import shutil
import signal
import sys
import tempfile
import time
import unittest
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "process"))

import cgi_harness  # noqa: E402
import gate_pages as pages  # noqa: E402
import gluster_volume  # noqa: E402
from gate_site import is_idle_slot  # noqa: E402

POSTINGS = 200
IN_FLIGHT = 8
RACERS = 50
QUERIES = 10
SINGLE_REQUESTS = 20
PROCESS_TIMEOUT = 120  # seconds; a busy machine and a sanitizer build are slow to start
# The whole suite, set up and torn down, stays below the test's CTest timeout: a suite that
# overruns is failed from within, so that its volume is still torn down.
SUITE_TIMEOUT = 780
FORM_TYPE = "application/x-www-form-urlencoded"

# The naming modes: session name, settings beyond the directories, base-name pattern.
NAMING_MODES = [
    ("counter", "FileNameTemplate=leaf####\r\n", r"^leaf\d{4}$"),
    ("num3d", "nameorder=num3d\r\n", r"^\d{3}$"),
    ("stamp", "", r"^\d{8}-\d{6}-\d{3}(\d{3,})?$"),
]


class Server:
    """One web server: its own site directory with the executable and config.txt, whose
    site settings name directories under the given site root (its mount of the volume)."""

    def __init__(self, site_root):
        self.site_root = site_root
        self.local = cgi_harness.Site()
        self.local.write("config.txt", "sessiondb=%s/\r\n" % self.local.path("sessions"))
        self.add_session("accounts", "")
        for session, settings, _ in NAMING_MODES:
            self.add_session(session, settings)

    def add_session(self, session, settings):
        self.local.write("sessions/%s.txt" % session,
                         "path=%s/leaves-%s/\r\nmembersdb=%s/members/\r\n%s"
                         % (self.site_root, session, self.site_root, settings))

    def start(self, env):
        return self.local.start(env)


def overrun(signal_number, _frame):
    raise TimeoutError("the suite was stopped by signal %d before it ended" % signal_number)


REFUSED_PASSWORD_LINE = re.compile(
    rb"orvanegate: (?:wrong password|too many wrong passwords): address \S+ id \S+ command \S+\n")
GUESSER = "203.0.113.9"
FIVE_GUESSER = "203.0.113.5"

# Every request comes from an address of its own: the races below are many clients, and
# their refused passwords must not add up as one address's guessing.
CLIENTS = itertools.count()


def client_address():
    n = next(CLIENTS)
    return "10.%d.%d.%d" % (n // 62500 % 250, n // 250 % 250, n % 250 + 1)


def post_env(body, content_type):
    return cgi_harness.cgi_env("POST", query=None, content_length=len(body),
                               CONTENT_TYPE=content_type, SCRIPT_NAME="/cgi/orvanegate.exe",
                               REMOTE_ADDR=client_address())


def form_request(*pairs):
    body = pages.urlencoded(*pairs)
    return post_env(body, FORM_TYPE), body


def posting_request(session, token):
    upload = (b"p.png", b"image/png", b"\x00img\r\n" + token * 50)
    parts = [(b"session", session.encode())] + pages.leaf_posting(upload=upload)[1:]
    body = pages.multipart(*parts, (b"title", token))
    return post_env(body, pages.multipart_type()), body


def profile_query(member_id):
    env = cgi_harness.cgi_env("GET", query="showuser=%s&session=accounts" % member_id,
                              SCRIPT_NAME="/cgi/orvanegate.exe")
    return env, b""


def finish(child, body):
    """Sends the body to a started process; its reply, or a note of how it failed."""
    result = cgi_harness.finish(child, body, timeout=PROCESS_TIMEOUT)
    # The lines of refused passwords are the operator's: the replies tell those requests.
    result.stderr = REFUSED_PASSWORD_LINE.sub(b"", result.stderr)
    if result.exit_code != 0 or result.stderr:
        return b"exit code %d, stderr: %s" % (result.exit_code, result.stderr[:600])
    return result.stdout


def read_fresh(path):
    """A file's bytes. A mount may lead the name to the file that the other mount's rename
    has just replaced (a stale handle) until it looks the name up again, as the gate does."""
    deadline = time.monotonic() + 5
    while True:
        try:
            with open(path, "rb") as handle:
                return handle.read()
        except OSError as error:
            if error.errno != errno.ESTALE or time.monotonic() > deadline:
                raise
        time.sleep(0.05)


def age_row(members, prefix):
    """Moves the failures of a row a pause back: each file is replaced by a rename, as a
    client's cache may serve a file rewritten in place as it was, and the clients' name
    caches are given time to see the new files."""
    for name in os.listdir(members):
        if name.startswith(prefix):
            path = os.path.join(members, name)
            with open(path, "rb") as f:
                aged = b"%d\r\n" % (int(f.read()) - 120)
            with open(path + ".aged", "wb") as f:
                f.write(aged)
            os.rename(path + ".aged", path)
    time.sleep(2)


def reply(page):
    head = b"Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n" % len(page)
    return head + b"Content:\r\n\r\n" + page


class TwoServersOverOneVolume(unittest.TestCase):
    maxDiff = None
    @classmethod
    def setUpClass(cls):
        reason = gluster_volume.missing_prerequisite()
        if reason:
            raise unittest.SkipTest("GlusterFS suite skipped: " + reason)
        signal.signal(signal.SIGALRM, overrun)
        signal.signal(signal.SIGTERM, overrun)
        signal.alarm(SUITE_TIMEOUT)
        cls.addClassCleanup(signal.alarm, 0)
        cls.root = tempfile.mkdtemp(prefix="orvanegate-gluster-")
        cls.addClassCleanup(shutil.rmtree, cls.root, ignore_errors=True)
        cls.volume = gluster_volume.GlusterVolume(cls.root)
        cls.addClassCleanup(cls.volume.close)
        cls.volume.open()
        cls.servers = []
        for mount in cls.volume.mounts:
            cls.servers.append(Server(os.path.join(mount, "site")))
            cls.addClassCleanup(cls.servers[-1].local.remove)
        site = cls.servers[0].site_root
        os.makedirs(os.path.join(site, "members"))
        for session in ["accounts"] + [mode[0] for mode in NAMING_MODES]:
            os.makedirs(os.path.join(site, "leaves-" + session))
        with open(os.path.join(site, "members", "m1.txt"), "wb") as record:
            record.write(b"id=m1\r\npw=secret\r\n")

    # --- running requests ------------------------------------------------------------
    def run_in_flight(self, servers, requests, in_flight=IN_FLIGHT):
        """Runs (env, body) requests alternately on the two servers, in_flight at a time;
        their replies in order and the mean seconds per request end to end."""
        def one(numbered):
            number, (env, body) = numbered
            started = time.monotonic()
            out = finish(servers[number % 2].start(env), body)
            return out, time.monotonic() - started
        with ThreadPoolExecutor(in_flight) as pool:
            done = list(pool.map(one, enumerate(requests)))
        return [out for out, _ in done], sum(took for _, took in done) / len(done)

    def run_at_once(self, requests):
        """Starts every request, alternating servers, before any of them gets its body,
        so all of them start from the same state; their replies in order."""
        started = [self.servers[n % 2].start(env) for n, (env, _) in enumerate(requests)]
        try:
            for child, (_, body) in zip(started, requests):
                child.stdin.write(body)
                child.stdin.close()
                child.stdin = None  # closed already: communicate must not flush it
            return [finish(child, None) for child in started]
        finally:
            for child in started:
                if child.poll() is None:
                    child.kill()
                    child.communicate()

    def read_site(self, servers, *names):
        """A site file as both servers see it; they must agree once a mount's caches (a
        second) no longer hold what the file was before the other mount's last change."""
        deadline = time.monotonic() + 3
        while True:
            seen = [read_fresh(os.path.join(server.site_root, *names)) for server in servers]
            if seen[0] == seen[1] or time.monotonic() > deadline:
                break
            time.sleep(0.25)
        cgi_harness.assert_bytes_equal(seen[0], seen[1], "/".join(names) + " across the mounts")
        return seen[0]

    def tally(self, replies, outcomes):
        """Counts replies by the name of the expected reply they equal; any other reply
        is counted under its first bytes, so a failure shows it."""
        counts = {}
        for out in replies:
            name = next((name for name, expected in outcomes.items() if out == expected),
                        "unexpected: " + cgi_harness.escape_bytes(out[:300]))
            counts[name] = counts.get(name, 0) + 1
        return counts

    def register(self, servers, member_id, password):
        env, body = form_request(("session", "accounts"), ("command", "registration"),
                                 ("id", member_id), ("pw", password), ("pw2", password),
                                 ("realname", "Start"), ("country", "JP"), ("mail", "s@example.jp"))
        (out,), _ = self.run_in_flight(servers, [(env, body)])
        cgi_harness.assert_bytes_equal(reply(pages.registration_accepted_page()), out)

    # --- postings --------------------------------------------------------------------
    def test_postings_in_every_naming_mode(self):
        timings = {}
        for session, _, pattern in NAMING_MODES:
            with self.subTest(session):
                timings[session] = self.post_and_check(self.servers, session, pattern)
        # The same postings with both servers on one local directory, for comparison.
        disk = self.post_and_check(self.local_servers("postings"), *NAMING_MODES[0][::2])
        for session, figures in timings.items():
            print("\n%s postings on the volume, %d requests, %d in flight: %.0f ms per request "
                  "(%.0f ms each)" % (session, POSTINGS, IN_FLIGHT, *figures), file=sys.stderr)
        print("\ntime per posting, %d requests, %d in flight: volume %.0f ms (%.0f ms each), "
              "local disk %.0f ms (%.0f ms each)"
              % (POSTINGS, IN_FLIGHT, *timings["counter"], *disk), file=sys.stderr)

    def test_time_per_request_one_at_a_time(self):
        """Password changes and profile queries one after another, on the volume and on
        local disk: what one request costs without waiting for others."""
        for label, servers in (("volume", self.servers), ("local disk", self.local_servers("single"))):
            self.register(servers, "timer", "pass-0")
            changes = [form_request(("session", "accounts"), ("command", "changepw"), ("id", "timer"),
                                    ("pw0", "pass-%d" % n), ("pw1", "pass-%d" % (n + 1)),
                                    ("pw2", "pass-%d" % (n + 1))) for n in range(SINGLE_REQUESTS)]
            replies, change = self.run_in_flight(servers, changes, in_flight=1)
            self.assertEqual([reply(pages.registration_accepted_page())] * SINGLE_REQUESTS, replies)
            queries = [profile_query("timer")] * SINGLE_REQUESTS
            replies, query = self.run_in_flight(servers, queries, in_flight=1)
            profile = pages.profile_page("timer", {"realname": b"Start", "country": b"JP"})
            self.assertEqual([reply(profile)] * SINGLE_REQUESTS, replies)
            print("\n%s, one request at a time: password change %.0f ms, profile query %.0f ms"
                  % (label, 1000 * change, 1000 * query), file=sys.stderr)

    def local_servers(self, name):
        """Two servers over one site on local disk, holding member m1 like the volume's."""
        site = os.path.join(self.root, "local-" + name)
        servers = [Server(site), Server(site)]
        for server in servers:
            self.addCleanup(server.local.remove)
        for directory in ["members"] + ["leaves-" + mode[0] for mode in NAMING_MODES] + ["leaves-accounts"]:
            os.makedirs(os.path.join(site, directory))
        shutil.copy(os.path.join(self.servers[0].site_root, "members", "m1.txt"),
                    os.path.join(site, "members"))
        return servers

    def post_and_check(self, servers, session, pattern):
        """Posts POSTINGS leaves in the session's naming mode and checks them; the wall
        time per request and the mean time of one request, in milliseconds."""
        tokens = [b"%s%03d" % (session.encode(), n) for n in range(POSTINGS)]
        started = time.monotonic()
        replies, mean = self.run_in_flight(servers, [posting_request(session, t) for t in tokens])
        took = time.monotonic() - started
        counts = self.tally(replies, {"accepted": reply(pages.file_accepted_page())})
        self.assertEqual({"accepted": POSTINGS}, counts)
        self.check_leaves(servers, session, pattern, tokens)
        return 1000 * took / POSTINGS, 1000 * mean

    def check_leaves(self, servers, session, pattern, tokens):
        directory = "leaves-" + session
        names = [sorted(os.listdir(os.path.join(s.site_root, directory))) for s in servers]
        self.assertEqual(names[0], names[1], "the leaf directory differs across the servers")
        files = {name for name in names[0] if name != "counter.txt" and not is_idle_slot(
            name, self.read_site(servers, directory, name))}
        bases = sorted(name[:-4] for name in files if name.endswith(".txt"))
        self.assertEqual(sorted(files), sorted([b + ".png" for b in bases] + [b + ".txt" for b in bases]))
        found = set()
        for base in bases:
            self.assertRegex(base, pattern)
            record = self.read_site(servers, directory, base + ".txt")
            token = re.search(rb"\r\ntitle=(\w+)\r\n", record).group(1)
            cgi_harness.assert_bytes_equal(b"\x00img\r\n" + token * 50,
                                           self.read_site(servers, directory, base + ".png"), base)
            found.add(token)
        self.assertEqual(set(tokens), found)
        if session != "stamp":
            # Names are drawn one after another: exactly the first numbers.
            self.assertEqual(list(range(1, POSTINGS + 1)), sorted(int(b[-3:]) for b in bases))
        if session == "counter":
            self.assertEqual(b"%d" % POSTINGS, self.read_site(servers, directory, "counter.txt"))

    # --- accounts --------------------------------------------------------------------
    def test_registrations_of_one_id(self):
        requests = [form_request(("session", "accounts"), ("command", "registration"),
                                 ("id", "racer"), ("pw", "pw%03d" % n), ("pw2", "pw%03d" % n),
                                 ("realname", "R%02d" % n), ("country", ""), ("mail", "m@x"))
                    for n in range(RACERS)]
        replies = self.run_at_once(requests)
        counts = self.tally(replies, {"accepted": reply(pages.registration_accepted_page()),
                                      "taken": reply(pages.error_page(pages.ID_TAKEN))})
        self.assertEqual({"accepted": 1, "taken": RACERS - 1}, counts)
        winner = replies.index(reply(pages.registration_accepted_page()))
        cgi_harness.assert_bytes_equal(
            pages.registration_record("racer", "pw%03d" % winner, "R%02d" % winner, "", "m@x"),
            self.read_site(self.servers, "members", "racer.txt"))

    def test_password_changes_from_one_old_password(self):
        self.register(self.servers, "pwrace", "old-pw")
        changes = [form_request(("session", "accounts"), ("command", "changepw"), ("id", "pwrace"),
                                ("pw0", "old-pw"), ("pw1", "new-pw%02d" % n), ("pw2", "new-pw%02d" % n))
                   for n in range(RACERS)]
        requests = mix_queries(changes, "pwrace")
        replies = self.run_at_once(requests)
        profile = reply(pages.profile_page("pwrace", {"realname": b"Start", "country": b"JP"}))
        counts = self.tally(replies, {
            "changed": reply(pages.registration_accepted_page()),
            "refused": reply(pages.error_page(pages.PW_NOT_CHANGED)),
            "profile": profile})
        print("\npassword race: %s" % counts, file=sys.stderr)
        self.assertEqual({"changed": 1, "refused": RACERS - 1, "profile": QUERIES}, counts)
        winner = changes.index(requests[replies.index(reply(pages.registration_accepted_page()))])
        cgi_harness.assert_bytes_equal(
            pages.registration_record("pwrace", "new-pw%02d" % winner, "Start", "JP", "s@example.jp"),
            self.read_site(self.servers, "members", "pwrace.txt"))

    def test_profile_saves_and_a_password_change(self):
        self.register(self.servers, "profrace", "old-pw")
        saves = [form_request(("session", "accounts"), ("command", "changeprof2"), ("id", "profrace"),
                              ("pw", "old-pw"), *profile_fields(n)) for n in range(RACERS)]
        change = form_request(("session", "accounts"), ("command", "changepw"), ("id", "profrace"),
                              ("pw0", "old-pw"), ("pw1", "new-pw"), ("pw2", "new-pw"))
        requests = mix_queries(saves[:RACERS // 2] + [change] + saves[RACERS // 2:], "profrace")
        replies = self.run_at_once(requests)
        start = {"realname": b"Start", "country": b"JP"}
        outcomes = {"changed": reply(pages.registration_accepted_page()),
                    "refused": reply(pages.error_page(pages.PROF_NOT_CHANGED)),
                    "profile start": reply(pages.profile_page("profrace", start))}
        for n in range(RACERS):
            outcomes["profile %d" % n] = reply(pages.profile_page("profrace", profile_values(n)))
        counts = self.tally(replies, outcomes)
        saved = [n for n in range(RACERS)
                 if replies[requests.index(saves[n])] != outcomes["refused"]]
        print("\nprofile race: %d of %d saves succeeded, the others refused after the password "
              "change; password changes: %d; profile queries: %d"
              % (len(saved), RACERS, counts.get("changed", 0), QUERIES), file=sys.stderr)
        self.assertEqual(1, counts.pop("changed", 0))
        self.assertEqual(RACERS - len(saved), counts.pop("refused", 0))
        # Every page shows a whole profile: the first one (queries only) or a saved one.
        shown = {"profile start"} | {"profile %d" % n for n in saved}
        self.assertFalse(set(counts) - shown, counts)
        self.assertLessEqual(counts.get("profile start", 0), QUERIES)
        # The password change is kept whatever saves came before or after it, and the
        # profile is the one of a save that succeeded.
        record = self.read_site(self.servers, "members", "profrace.txt")
        expected = [pages.registration_record("profrace", "new-pw", "Start", "JP", "s@example.jp")]
        expected += [saved_record("profrace", "new-pw", n) for n in saved]
        self.assertIn(record, expected, cgi_harness.escape_bytes(record))

    def test_wrong_passwords_from_one_address(self):
        """Wrong passwords from one address through both servers at once: every one is
        answered as wrong or refused, none fails, of any number at once exactly five are
        checked, and the count is exact: five failures, no more and no fewer, whatever either client's caches
        hold, also where five at once end a row a pause old. The next guess through either server is refused, so is the address's right
        password, and the member at another address is not."""
        self.register(self.servers, "guessed", "right-pw")
        empty_form = b"Status: 200 OK\r\nContent-Type: text/html\r\nContent:\r\n\r\n"
        refused = reply(pages.error_page(pages.TOO_MANY_WRONG))
        counts_dir = os.path.join(self.servers[0].site_root, "members", ".guesses", "+guessed")
        for address, racers, aged in ((FIVE_GUESSER, 5, False), (GUESSER, RACERS, False),
                                      (FIVE_GUESSER, 5, True)):
            if aged:  # a row a pause old: five at once end it and count afresh
                age_row(counts_dir, address + ".")
            guesses = [form_request(("session", "accounts"), ("command", "changeprof1"),
                                    ("id", "guessed"), ("pw", "guess-%02d" % n))
                       for n in range(racers)]
            for env, _ in guesses:
                env["REMOTE_ADDR"] = address
            counts = self.tally(self.run_at_once(guesses), {"wrong": empty_form, "refused": refused})
            row = sorted(name for name in os.listdir(counts_dir) if name.startswith(address + "."))
            print("\n%d guesses from one address%s: %s, counted %d"
                  % (racers, " ending a row a pause old" if aged else "", counts, len(row)),
                  file=sys.stderr)
            self.assertEqual(racers, counts.get("wrong", 0) + counts.get("refused", 0), counts)
            # Counted before the check: of any number at once five are checked.
            self.assertEqual(5, counts.get("wrong", 0), counts)
            self.assertEqual(["%s.%d" % (address, n) for n in range(1, 6)], row)
            for name in row:
                with open(os.path.join(counts_dir, name), "rb") as f:
                    self.assertLess(abs(int(f.read()) - time.time()), 30, name)
            for n in range(2):
                env, body = form_request(("session", "accounts"), ("command", "changeprof1"),
                                         ("id", "guessed"), ("pw", "after-%02d" % n))
                env["REMOTE_ADDR"] = address
                cgi_harness.assert_bytes_equal(refused, finish(self.servers[n].start(env), body))
        right = [form_request(("session", "accounts"), ("command", "changeprof1"),
                              ("id", "guessed"), ("pw", "right-pw")) for _ in range(3)]
        right[0][0]["REMOTE_ADDR"] = FIVE_GUESSER
        right[1][0]["REMOTE_ADDR"] = GUESSER
        (five, guesser, member), _ = self.run_in_flight(self.servers, right)
        cgi_harness.assert_bytes_equal(refused, five)
        cgi_harness.assert_bytes_equal(refused, guesser)
        self.assertIn(b'value="changeprof2"', member)


def mix_queries(requests, member_id):
    """The requests with a profile query after every len/QUERIES of them."""
    step = max(1, len(requests) // QUERIES)
    mixed = []
    for n, request in enumerate(requests):
        mixed.append(request)
        if n % step == step - 1 and len(mixed) - n - 1 < QUERIES:
            mixed.append(profile_query(member_id))
    return mixed


def profile_values(n):
    return {"realname": b"Name%02d" % n, "country": b"C%02d" % n, "comment": b"comment-%02d" % n,
            "url1": b"http://u%02d.example/" % n, "urlname1": b"site%02d" % n}


def profile_fields(n):
    values = profile_values(n)
    return [(key, values[key]) for key in ("realname", "country", "comment", "url1", "urlname1")] + \
        [("mail", b"m%02d@example.jp" % n)]


def saved_record(member_id, password, n):
    """The record after save n on top of the registration record or another save."""
    values = profile_values(n)
    return pages.record(("id", member_id), ("pw", password), ("realname", values["realname"]),
                        ("country", values["country"]), ("mail", b"m%02d@example.jp" % n),
                        ("comment", values["comment"]), ("url1", values["url1"]),
                        ("urlname1", values["urlname1"]))


if __name__ == "__main__":
    unittest.main()

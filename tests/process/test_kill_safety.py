"""Postings and profile saves killed (SIGKILL) at random moments: what stays under a
final name is always whole, an accepted posting is always complete, the counter never
goes backwards and the next request works.

With ORVANEGATE_RESPONDER=fastcgi the requests go to a persistent process that the shipped
manager (site/orvanegate-fastcgi.sh) keeps on a socket: the process is killed mid-request
and the manager must start another, which answers the next request.

Runs go on until the kills that landed reach ORVANEGATE_KILLS per kind (default 100:
postings share it among the naming modes), at most ten runs per kill; the persistent
processes get 30 postings' kills and a third of that for profile saves, as the manager
starts a new process for each kill. ORVANEGATE_KILL_SEED repeats a run."""

import os
import random
import re
import shutil
import signal
import socket
import statistics
import subprocess
import tempfile
import threading
import time
import unittest

import cgi_harness
import fastcgi_client
import gate_pages as pages
from gate_site import is_idle_slot, leaf_site

KILLS = int(os.environ.get("ORVANEGATE_KILLS", "30" if cgi_harness.fastcgi_mode() else "100"))
SAVE_KILLS = -(-KILLS // 3) if cgi_harness.fastcgi_mode() else KILLS
SEED = int(os.environ.get("ORVANEGATE_KILL_SEED", str(random.randrange(1 << 30))))
IMAGE_BYTES = 4 << 20
COMMENT_BYTES = 1 << 20
MODES = [("counter", {"FileNameTemplate": "leaf####"}),
         ("num3d", {"nameorder": "num3d"}),
         ("time stamp", {})]


class KillRunner:
    """Runs one request with its body in a file, killed after a delay unless it ends first.
    Every other kill is timed from the moment the request starts writing (a file appears
    in watched_dir), so that many kills land while files are written."""

    def __init__(self, site, rng, watched_dir):
        self.site = site
        self.rng = rng
        self.watched_dir = watched_dir
        self.full_time = self.write_time = None

    def run(self, body, content_type, kill_after, from_writing=False):
        """(killed, seconds from writing's start to the end or the kill or None, Result).
        A run that wine failed to start is started again."""
        for _ in range(cgi_harness.WINE_START_ATTEMPTS - 1):
            outcome = self.run_once(body, content_type, kill_after, from_writing)
            if outcome[0] or not cgi_harness.wine_start_failed(outcome[2]):
                return outcome
        return self.run_once(body, content_type, kill_after, from_writing)

    def run_once(self, body, content_type, kill_after, from_writing):
        env = self.site.post_env(body, content_type=content_type)
        path = self.site.write("bodies/body.bin", body)
        before = set(os.listdir(self.watched_dir))
        # The reply goes to a file: a large page must not wait for a reader of a pipe.
        with open(path, "rb") as stdin, open(self.site.path("reply.bin"), "w+b") as stdout:
            child = self.site.start(env, stdin, stdout)
            start = time.monotonic()
            deadline = None if from_writing else start + kill_after
            began = None
            while child.poll() is None and (deadline is None or time.monotonic() < deadline):
                if began is None and set(os.listdir(self.watched_dir)) - before:
                    began = time.monotonic()
                    if from_writing:
                        deadline = began + kill_after
                time.sleep(0.001)
            killed = child.poll() is None
            if killed:
                child.send_signal(signal.SIGKILL)
            end = time.monotonic()
            _, stderr = child.communicate(timeout=60)
            stdout.seek(0)
            return (killed, None if began is None else end - began,
                    cgi_harness.without_wine_exit_fault(
                        cgi_harness.Result(child.returncode, stdout.read(), stderr)))

    def calibrate(self, body, content_type):
        """Times three whole requests; kills are spread over those times."""
        totals, writes = [], []
        for _ in range(3):
            start = time.monotonic()
            killed, writing, result = self.run(body, content_type, 60)
            totals.append(time.monotonic() - start)
            writes.append(writing or 0.0)
        self.full_time, self.write_time = statistics.median(totals), max(writes)
        return result

    def run_killed(self, body, content_type, n):
        """The n-th run, killed at a random moment: even runs from the start, odd runs
        from the start of writing. (killed, landed while writing, Result)"""
        from_writing = n % 2 == 1
        span = self.write_time * 1.2 + 0.002 if from_writing else self.full_time
        start = time.monotonic()
        killed, writing, result = self.run(body, content_type, self.rng.uniform(0, span),
                                           from_writing)
        if not killed and not from_writing:
            # The machine's load moves: whole runs keep the span near what a run takes now.
            self.full_time = 0.7 * self.full_time + 0.3 * (time.monotonic() - start)
        return killed, killed and writing is not None, result

    def post(self, body, content_type):
        """The checked standard output of a request left to end."""
        return self.site.post(body, content_type=content_type)


MANAGER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "site",
                       "orvanegate-fastcgi.sh")


class Manager:
    """The shipped manager keeping one gate process of a site on a listening socket of the
    test's own; it runs in a session of its own, which stop() ends."""

    def __init__(self, site):
        self.folder = tempfile.mkdtemp(prefix="orvanegate-manager-")
        self.address = os.path.join(self.folder, "socket")
        self.exe = os.path.realpath(site.exe)
        self.current, self.dead, self.started = None, set(), 0
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        listener.bind(self.address)
        listener.listen(16)
        self.log = open(os.path.join(self.folder, "stderr"), "w+b")
        env = dict(cgi_harness.sanitizer_environment(), PATH=os.environ["PATH"])
        self.shell = subprocess.Popen(["sh", MANAGER, "--keep", "1", site.exe], env=env,
                                      cwd=site.root, stdin=listener, stdout=subprocess.DEVNULL,
                                      stderr=self.log, start_new_session=True)
        listener.close()

    def process(self, timeout=20):
        """The live gate process, waiting until the manager has started one."""
        deadline = time.monotonic() + timeout
        while self.current is None:
            for entry in os.listdir("/proc"):
                if entry.isdigit() and int(entry) not in self.dead and self.runs_gate(entry):
                    self.current = int(entry)
                    self.started += 1
                    break
            else:
                if time.monotonic() > deadline:
                    raise AssertionError("the manager started no gate process")
                time.sleep(0.005)
        return self.current

    def runs_gate(self, pid):
        try:
            return os.readlink("/proc/%s/exe" % pid) == self.exe
        except OSError:  # gone, a zombie or another user's
            return False

    def kill(self):
        pid = self.process()
        os.kill(pid, signal.SIGKILL)
        self.dead.add(pid)
        self.current = None

    def stop(self):
        """Ends the manager with its process; what they wrote to their own stderr."""
        if self.shell.poll() is None:
            self.shell.send_signal(signal.SIGTERM)
        try:
            self.shell.wait(30)
        except subprocess.TimeoutExpired:
            os.killpg(self.shell.pid, signal.SIGKILL)
            self.shell.wait()
        self.log.seek(0)
        output = self.log.read()
        self.log.close()
        shutil.rmtree(self.folder, ignore_errors=True)
        return output


class FastCgiKillRunner(KillRunner):
    """KillRunner through the manager's socket: the request is sent from a thread while
    the gate process that answers it is watched and killed."""

    def __init__(self, site, rng, watched_dir, manager):
        super().__init__(site, rng, watched_dir)
        self.manager = manager

    def run(self, body, content_type, kill_after, from_writing=False):
        return self.run_once(body, content_type, kill_after, from_writing)

    def run_once(self, body, content_type, kill_after, from_writing):
        env = self.site.post_env(body, content_type=content_type)
        self.manager.process()
        before = set(os.listdir(self.watched_dir))
        outcome = {}

        def send():
            try:
                outcome["reply"] = fastcgi_client.request(self.manager.address, env, body,
                                                          timeout=60)
            except OSError as error:  # a connection the killed process dropped
                outcome["error"] = error

        sender = threading.Thread(target=send)
        start = time.monotonic()
        sender.start()
        deadline = None if from_writing else start + kill_after
        began = None
        while sender.is_alive() and (deadline is None or time.monotonic() < deadline):
            if began is None and set(os.listdir(self.watched_dir)) - before:
                began = time.monotonic()
                if from_writing:
                    deadline = began + kill_after
            time.sleep(0.001)
        killed = sender.is_alive()
        if killed:
            self.manager.kill()
        end = time.monotonic()
        sender.join(60)
        if killed:
            return True, None if began is None else end - began, None
        if "error" in outcome:
            raise outcome["error"]
        reply = outcome["reply"]
        return (False, None if began is None else end - began,
                cgi_harness.Result(reply.app_status, reply.stdout, reply.stderr))

    def post(self, body, content_type):
        return self.site.checked(self.run(body, content_type, 60)[2])


class KillSafety(cgi_harness.CgiTestCase):
    def setUp(self):
        self.rng = random.Random(SEED)
        self.block = bytes(self.rng.getrandbits(8) for _ in range(4096)) * (IMAGE_BYTES // 4096)

    def report(self, text):
        print("[seed %d] %s" % (SEED, text))

    def runner(self, site, watched_dir):
        """A KillRunner for the site; in the FastCGI mode its manager runs until the test
        ends, and must have started a process again after every kill."""
        if not cgi_harness.fastcgi_mode():
            return KillRunner(site, self.rng, watched_dir)
        manager = Manager(site)
        self.addCleanup(self.stop_manager, manager)
        return FastCgiKillRunner(site, self.rng, watched_dir, manager)

    def stop_manager(self, manager):
        output = manager.stop()
        self.report("FastCGI processes started: %d, killed: %d"
                    % (manager.started, len(manager.dead)))
        self.assertEqual(manager.started, len(manager.dead) + 1,
                         "a process ended unkilled, or the manager started none")
        # The shell reports each child that a signal ended: only those lines are expected.
        self.assertEqual(output.replace(b"Killed\n", b""), b"",
                         "the manager or its processes wrote to stderr")

    # --- postings --------------------------------------------------------------
    def posting(self, token, big=True):
        """The body of a posting and what it stores: (body, (big, record))."""
        upload = (b"p.png", b"image/png", self.image(token, big))
        body = pages.multipart(*pages.leaf_posting(upload=upload, extra=[(b"title", token)]))
        return body, (big, pages.leaf_record("session=site1", "id=m1", "upfile=p.png",
                                             b"title=" + token))

    def image(self, token, big):
        return token + b"|" + (self.block if big else b"small")

    def check_leaves(self, site, expected, verified, require_pairs):
        """Every file under a final name is whole (each file, which never changes once it
        appears, is read once: verified maps (name, inode) to its token). Returns
        ({token: names}, hidden names, counter text)."""
        bases, hidden, counter = {}, [], None
        for entry in os.scandir(site.leaves):
            name = entry.name
            if name == "counter.txt":
                counter = site.read(os.path.join("leaves", name))
                continue
            if name.startswith("."):
                if not is_idle_slot(name, site.read(os.path.join("leaves", name))):
                    hidden.append(name)
                continue
            key = (name, entry.inode())
            if key not in verified:
                verified[key] = self.verify_leaf_file(site, name, expected)
            bases.setdefault(verified[key], set()).add(name)
        if require_pairs:
            self.assertEqual(hidden, [], "helper files left")
            names = [name for group in bases.values() for name in group]
            stems = [os.path.splitext(name)[0] for name in names]
            self.assertEqual(sorted(names), sorted([s + ".png" for s in set(stems)]
                                                   + [s + ".txt" for s in set(stems)]),
                             "a record without its image or an image without its record")
        return bases, sorted(hidden), counter

    def verify_leaf_file(self, site, name, expected):
        data = site.read(os.path.join("leaves", name))
        ext = os.path.splitext(name)[1]
        if ext == ".png":
            match = re.match(rb"([kn]\d+)\|", data)
        else:
            match = re.search(rb"\r\ntitle=([kn]\d+)\r\n", data) if ext == ".txt" else None
        self.assertIsNotNone(match, "unexpected file %s" % name)
        token = match.group(1)
        big, record = expected[token]
        if ext == ".png":
            # Compared without building the expected bytes, which would be large.
            whole = (len(data) == len(token) + 1 + (len(self.block) if big else 5)
                     and data[len(token) + 1:] == (self.block if big else b"small"))
            self.assertTrue(whole, "image %s is not whole (%d bytes)" % (name, len(data)))
        else:
            self.assertBytesEqual(record, data, name)
        return token

    def kill_postings(self, label, settings, kills):
        site = leaf_site(self, **settings)
        runner = self.runner(site, site.leaves)
        expected, verified = {}, {}
        body, expected[b"k0"] = self.posting(b"k0")
        site.assert_page(pages.file_accepted_page(),
                         site.checked(runner.calibrate(body, pages.multipart_type())))
        # The calibration stored k0 three times; later tokens are stored at most once.
        figures = {"killed": 0, "killed while writing": 0, "finished": 0, "half leaf seen": 0,
                   "helpers seen": 0, "unanswered leaf seen": 0}
        accepted, last_counter, n = set(), 0, 0
        while figures["killed"] < kills:
            n += 1
            self.assertLessEqual(n, 10 * kills, "too few kills landed: %s" % figures)
            token = b"k%d" % n
            body, expected[token] = self.posting(token)
            killed, while_writing, result = runner.run_killed(body, pages.multipart_type(), n)
            figures["killed while writing"] += while_writing
            if killed:
                figures["killed"] += 1
            else:
                figures["finished"] += 1
                site.assert_page(pages.file_accepted_page(), site.checked(result))
                accepted.add(token)
            bases, hidden, counter = self.check_leaves(site, expected, verified,
                                                      require_pairs=False)
            figures["helpers seen"] += bool(hidden)
            if killed and token in bases:
                figures["half leaf seen" if len(bases[token]) == 1 else "unanswered leaf seen"] += 1
            # The next request works and clears what the killed one left.
            next_token = b"n%d" % n
            body, expected[next_token] = self.posting(next_token, big=False)
            site.assert_page(pages.file_accepted_page(),
                             runner.post(body, pages.multipart_type()))
            accepted.add(next_token)
            bases, hidden, counter = self.check_leaves(site, expected, verified,
                                                      require_pairs=True)
            for token in accepted:
                self.assertIn(token, bases, "accepted posting missing")
            if counter is not None:
                value = int(counter)
                self.assertGreaterEqual(value, last_counter, "counter went backwards")
                last_counter = value
        self.report("postings, %s: %d runs: %s" % (label, n, figures))

    def test_postings_killed_at_random_moments(self):
        per_mode = -(-KILLS // len(MODES))
        for label, settings in MODES:
            with self.subTest(label):
                self.kill_postings(label, settings, per_mode)

    # --- profile saves ---------------------------------------------------------
    # A save brings at most 64 KiB; the long line it keeps makes each rewrite last.
    KEPT = (("id", "m1"), ("pw", "secret"), ("note", b"n" * COMMENT_BYTES))

    def profile_save(self, token):
        comment = token + b"c" * 1000
        body = pages.multipart((b"session", b"site1"), (b"command", b"changeprof2"),
                               (b"id", b"m1"), (b"pw", b"secret"), (b"realname", token),
                               (b"comment", comment))
        record = pages.record(*self.KEPT, ("realname", token), ("comment", comment))
        return body, record

    def test_profile_saves_killed_at_random_moments(self):
        site = leaf_site(self)
        site.write_member("m1", pages.record(*self.KEPT))
        runner = self.runner(site, site.members)
        body, record = self.profile_save(b"p0")
        runner.calibrate(body, pages.multipart_type())
        records = {record}
        figures = {"killed": 0, "killed while writing": 0, "finished": 0}
        n = 0
        while figures["killed"] < SAVE_KILLS:
            n += 1
            self.assertLessEqual(n, 10 * SAVE_KILLS, "too few kills landed: %s" % figures)
            body, record = self.profile_save(b"p%d" % n)
            records.add(record)
            killed, while_writing, result = runner.run_killed(body, pages.multipart_type(), n)
            figures["killed" if killed else "finished"] += 1
            figures["killed while writing"] += while_writing
            if not killed:
                site.checked(result)
            stored = site.read_member("m1")
            self.assertIn(stored, records, "record torn after a kill")
            if not killed:
                self.assertEqual(stored, record)
            visible = [name for name in site.member_files() if name.endswith(b".txt")
                       and not name.startswith(b".")]
            self.assertEqual(visible, [b"m1.txt"])
        # The next request works on the record the kills left.
        body, record = self.profile_save(b"last")
        site.checked(runner.run(body, pages.multipart_type(), 60)[2])
        self.assertEqual(site.read_member("m1"), record)
        self.assertEqual([name for name in site.member_files() if name.startswith(b".")], [],
                         "a killed save's helper outlived the next save")
        self.report("profile saves: %d runs: %s" % (n, figures))


if __name__ == "__main__":
    unittest.main()

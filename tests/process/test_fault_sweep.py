"""Every command run again and again with its N-th file operation failing (a full disk,
a vanished directory, a denied permission), N running over all of its operations, with
and without body dumps. Each run must answer with the status-500 reply or an error page,
or with its page only when its data was stored; leave no record short and no helper file
behind; never move the counter back; and the next request must work.

Needs the test build's fault injection (ORVANEGATE_FAULT_INJECTION). Every fault kind is
tried at every N; with ORVANEGATE_FAULT_QUICK=1 the kinds take turns instead, and with
ORVANEGATE_FAULT_DUMPS_ONLY=1 every command runs with body dumps only (its operations are
those without dumps and the dump's own)."""

import os
import re
import shutil
import unittest

import cgi_harness
import gate_pages as pages
from gate_site import GateSite, is_idle_slot, leaf_site, split_reply

ERRORS = ("disk-full", "not-found", "access-denied")
ALL_ERRORS = os.environ.get("ORVANEGATE_FAULT_QUICK") != "1"
DUMPS = (True,) if os.environ.get("ORVANEGATE_FAULT_DUMPS_ONLY") == "1" else (False, True)
MAX_OPERATIONS = 400  # a run with more file operations than this is a fault of its own

RECORD = pages.record(("id", "m1"), ("pw", "secret"), ("realname", "Taro"), ("mail", "t@x.jp"))
RECORD_NEW_PW = pages.record(("id", "m1"), ("pw", "secret2"), ("realname", "Taro"),
                             ("mail", "t@x.jp"))
PROFILE = {"realname": b"Hanako", "mail": b"h@x.jp", "comment": b"hi"}
RECORD_NEW_PROFILE = pages.record(("id", "m1"), ("pw", "secret"), ("realname", "Hanako"),
                                  ("mail", "h@x.jp"), ("comment", "hi"))


def command(name, *pairs):
    return pages.urlencoded(("session", "site1"), ("command", name), *pairs)


class Command:
    """One command: its request, and what a run may leave and answer."""

    def __init__(self, label, settings=None):
        self.label = label
        self.settings = settings

    def prepare(self, site):
        site.write_member("m1", RECORD)
        # Every run comes from one address, and a fault after a try was counted leaves it
        # counted: hundreds of faults a minute would reach the address's allowance.
        shutil.rmtree(os.path.join(site.members, ".guesses"), ignore_errors=True)

    def request(self, site, n):
        """(env, body) of the n-th run."""
        raise NotImplementedError

    def check(self, test, site, n, page):
        """page: the page when the run answered with its own page, else None."""
        raise NotImplementedError


class Registration(Command):
    def request(self, site, n):
        fields = (("id", "r%d" % n), ("pw", "secret1"), ("pw2", "secret1"), ("realname", "R"),
                  ("mail", "r@x.jp"), ("country", ""))
        return site.post_env(command("registration", *fields)), command("registration", *fields)

    def check(self, test, site, n, page):
        path = site.member_path("r%d" % n)
        expected = pages.registration_record("r%d" % n, "secret1", "R", "", "r@x.jp")
        if page is not None:
            cgi_harness.assert_bytes_equal(pages.registration_accepted_page(), page)
            test.assertTrue(os.path.exists(path), "accepted but not stored")
        if os.path.exists(path):
            cgi_harness.assert_bytes_equal(expected, site.read_member("r%d" % n), "record")


class MemberCommand(Command):
    """A command on member m1, which each run finds as RECORD."""

    def __init__(self, label, name, fields, after, expected_page):
        super().__init__(label)
        self.name, self.fields, self.after = name, fields, after
        self.expected_page = expected_page

    def request(self, site, n):
        body = command(self.name, *self.fields)
        return site.post_env(body), body

    def check(self, test, site, n, page):
        stored = site.read_member("m1")
        test.assertIn(stored, (RECORD, self.after), "record torn")
        if page is not None:
            self.expected_page(page)
            cgi_harness.assert_bytes_equal(self.after, stored, "accepted but not stored")


# The tries counted in the directory of counts; they stay by design.
COUNT_FILE = re.compile(rb"(\+[^/]*/[^/]*|\.(wrong|registered)-[^/]*)\.[0-9]+")


class WrongPassword(MemberCommand):
    """A wrong password, counted in a file of its own, which each run finds removed so that
    no run is refused for the ones before it."""


class ProfileQuery(Command):
    def request(self, site, n):
        return cgi_harness.cgi_env("GET", query="showuser=m1&session=site1"), b""

    def check(self, test, site, n, page):
        cgi_harness.assert_bytes_equal(RECORD, site.read_member("m1"))
        if page is not None:
            cgi_harness.assert_bytes_equal(
                pages.profile_page("m1", {"realname": b"Taro"}), page)


class Posting(Command):
    def prepare(self, site):
        super().prepare(site)
        site.write_member("m1", b"id=m1\r\npw=secret\r\n")

    def request(self, site, n):
        token = b"t%d" % n
        body = pages.multipart(*pages.leaf_posting(upload=(b"p.png", b"image/png", token + b"|img"),
                                                   extra=[(b"title", token)]))
        return site.post_env(body, content_type=pages.multipart_type()), body

    def check(self, test, site, n, page):
        tokens = set()
        for name in os.listdir(site.leaves):
            if name.startswith(".") or name == "counter.txt":
                continue
            data = site.read(os.path.join("leaves", name))
            if name.endswith(".png"):
                token = data[:-4]
                test.assertEqual(data, token + b"|img", name)
            else:
                token = re.search(rb"\r\ntitle=(t\d+)\r\n", data).group(1)
                cgi_harness.assert_bytes_equal(
                    pages.leaf_record("session=site1", "id=m1", "upfile=p.png",
                                      b"title=" + token), data, name)
            tokens.add(token)
        if page is not None:
            cgi_harness.assert_bytes_equal(pages.file_accepted_page(), page)
            test.assertIn(b"t%d" % n, tokens, "accepted but not stored")


def page_equal(expected):
    return lambda page: cgi_harness.assert_bytes_equal(expected, page)


def change_profile_form(page):
    if b'name="command" value="changeprof2"' not in page or b'Value="Taro"' not in page:
        raise AssertionError("not the change-profile form:\n" + cgi_harness.escape_bytes(page))


COMMANDS = [
    Registration("registration"),
    MemberCommand("changepw", "changepw",
                  (("id", "m1"), ("pw0", "secret"), ("pw1", "secret2"), ("pw2", "secret2")),
                  RECORD_NEW_PW, page_equal(pages.registration_accepted_page())),
    MemberCommand("changeprof1", "changeprof1", (("id", "m1"), ("pw", "secret")), RECORD,
                  change_profile_form),
    MemberCommand("changeprof2", "changeprof2",
                  (("id", "m1"), ("pw", "secret"), *((k, v) for k, v in PROFILE.items())),
                  RECORD_NEW_PROFILE, page_equal(pages.profile_page("m1", PROFILE))),
    WrongPassword("changeprof1, wrong password", "changeprof1", (("id", "m1"), ("pw", "wrong")),
                  RECORD, page_equal(b"")),
    Posting("postleaf, counter", {"FileNameTemplate": "leaf####"}),
    Posting("postleaf, num3d", {"nameorder": "num3d"}),
    Posting("postleaf, time stamp", {}),
    ProfileQuery("profile query"),
]


def allowed_leftovers(unlinked):
    """A helper whose own removal failed may stay; with a posting's helper, its slot stays
    whole (slot file and both helpers), for the next posting to finish the clearing."""
    if unlinked is None:
        return ()
    slot = re.match(rb"(.*/\.leaf\d+)[ir]$", unlinked)
    return (slot.group(1), slot.group(1) + b"i", slot.group(1) + b"r") if slot else (unlinked,)


class FaultSweep(unittest.TestCase):
    figures = []

    @classmethod
    def tearDownClass(cls):
        for line in cls.figures:
            print(line)

    def run_once(self, site, cmd, n, fault_at=None, error=None):
        """Runs the command's n-th request; (stdout, log lines)."""
        log = site.path("fault.log")
        if os.path.exists(log):
            os.remove(log)
        env, body = cmd.request(site, n)
        self.bodies.add(body)
        env = dict(env, ORVANEGATE_FAULT_LOG=log)
        if fault_at is not None:
            env.update(ORVANEGATE_FAULT_AT=str(fault_at), ORVANEGATE_FAULT_ERROR=error)
        result = site.run(env, body)
        self.stderr = result.stderr
        self.assertEqual(0, result.exit_code, cgi_harness.escape_bytes(result.stderr))
        for report in (b"Sanitizer", b"runtime error", b"LeakSanitizer"):
            self.assertNotIn(report, result.stderr)
        if not os.path.exists(log):
            self.skipTest("the executable was built without fault injection")
        with open(log, "rb") as handle:
            lines = handle.read().splitlines()
        os.remove(log)
        return result.stdout, lines

    def page_of(self, stdout):
        """The page when the reply is the command's own page; None for 500 or an error page."""
        head, page = split_reply(stdout)
        if head.startswith(b"Status: 500"):
            return None
        self.assertTrue(head.startswith(b"Status: 200 OK\r\n"), head)
        return None if page.startswith(b"<html><head><title>error</title>") else page

    def leftovers(self, site):
        """Helper files: anything hidden, or not a record, in the member and leaf folders."""
        found = [os.path.join(site.members, os.fsdecode(name)) for name in site.member_files()
                 if name.startswith(b".") or not name.endswith(b".txt")]
        found += [os.path.join(site.members, ".guesses", os.fsdecode(name))
                  for name in site.count_files() if not COUNT_FILE.fullmatch(name)]
        found += [os.path.join(site.leaves, name) for name in os.listdir(site.leaves)
                  if name.startswith(".")
                  and not is_idle_slot(name, site.read(os.path.join("leaves", name)))]
        if os.path.isdir(site.dumps):
            for day in os.listdir(site.dumps):
                found += [os.path.join(site.dumps, day, name)
                          for name in os.listdir(os.path.join(site.dumps, day))
                          if name.startswith(".")]
        return sorted(found)

    def check_dumps(self, site):
        """Every dump holds the whole body of a request."""
        for day, name, data in site.dump_files():
            if not name.startswith("."):
                self.assertIn(data, self.bodies, "dump %s/%s is not a whole body" % (day, name))

    def counter(self, site):
        path = os.path.join(site.leaves, "counter.txt")
        if not os.path.exists(path):
            return 0
        with open(path, "rb") as handle:
            text = handle.read().split()
        return int(text[0]) if text else 0

    def sweep(self, cmd, dump):
        site = leaf_site(self, **(cmd.settings or {}))
        if dump:
            os.mkdir(site.dumps)
            site.write_config(b"sessiondb=%s/\r\ndumppath=%s/\r\n"
                              % (site.sessions.encode(), site.dumps.encode()))
        cmd.prepare(site)
        self.bodies = set()
        stdout, lines = self.run_once(site, cmd, 0)
        cmd.check(self, site, 0, self.page_of(stdout))
        n, injected, answers = 0, 0, {"500": 0, "error page": 0, "own page": 0}
        for fault_at in range(1, MAX_OPERATIONS + 1):
            failed = None
            for error in (ERRORS if ALL_ERRORS else (ERRORS[fault_at % 3],)):
                n += 1
                with self.subTest(fault_at=fault_at, error=error):
                    cmd.prepare(site)
                    before = self.counter(site)
                    stdout, lines = self.run_once(site, cmd, n, fault_at, error)
                    failed = next((line for line in lines if line.endswith(b" FAILED")), None)
                    if failed is None:
                        break
                    injected += 1
                    page = self.page_of(stdout)
                    answers["own page" if page is not None else
                            "500" if stdout.startswith(b"Status: 500") else "error page"] += 1
                    cmd.check(self, site, n, page)
                    if stdout.startswith(b"Status: 500") and b" write " in failed:
                        self.assertIn(b'"' + failed.split(b" ")[2] + b'"', self.stderr)
                    self.check_dumps(site)
                    self.assertGreaterEqual(self.counter(site), before, "counter went back")
                    # Only the helper whose own removal failed, or the slot whose note could
                    # not be emptied, may stay, until a later request.
                    unlinked = (cgi_harness.host_path(failed.split(b" ")[2])
                                if b" unlink " in failed
                                or re.search(rb" write .*[/\\]\.leaf\d+ FAILED$", failed) else None)
                    for path in self.leftovers(site):
                        self.assertIn(os.fsencode(path), allowed_leftovers(unlinked),
                                      "helper left: %s" % failed)
                    # The next request works and leaves no helper.
                    cmd.prepare(site)
                    n += 1
                    stdout, _ = self.run_once(site, cmd, n)
                    page = self.page_of(stdout)
                    self.assertIsNotNone(page, "the request after a fault failed")
                    cmd.check(self, site, n, page)
                    self.assertEqual(self.leftovers(site), [], "helper left after: %s" % failed)
            if failed is None:
                break
        self.assertLess(fault_at, MAX_OPERATIONS, "no end to the operations")
        self.figures.append("%s%s: %d operations, %d faults injected, answers %s"
                            % (cmd.label, " with dumps" if dump else "", fault_at - 1,
                               injected, answers))

    def test_every_operation_of_every_command_fails_soundly(self):
        for cmd in COMMANDS:
            for dump in DUMPS:
                with self.subTest(cmd.label, dump=dump):
                    self.sweep(cmd, dump)


if __name__ == "__main__":
    unittest.main()

"""Paths that hold something other than a plain file where the gate expects one
(directories, FIFOs), and member ids as long as a file name may be.

A FIFO must never make the gate wait: every run here has a short timeout, and one that
overruns fails the test instead of hanging the suite."""

import os
import re
import stat
import unittest

import cgi_harness
import gate_pages as pages
from gate_pages import leaf_posting as posting
from gate_site import GateSite, leaf_site, reply

TIMEOUT = 15
SERVER_ERROR = b"Status: 500 Internal Server Error\r\n"
# The operator's line that comes with every status-500 answer, and nothing else.
LOG_LINE = re.compile(rb"orvanegate: status 500: E\w+: [^\n]+ "
                      rb"\(request: (GET|POST) (/cgi/orvanegate\.exe)?\)\n")


def command(name, *pairs):
    return pages.urlencoded(("session", "site1"), ("command", name), *pairs)


REGISTER = command("registration", ("id", "taro"), ("pw", "secret"), ("pw2", "secret"),
                   ("realname", "Taro"), ("mail", "t@x.jp"))
CHANGE_PW = command("changepw", ("id", "taro"), ("pw0", "secret"), ("pw1", "Secret2"),
                    ("pw2", "Secret2"))
PROFILE_FORM = command("changeprof1", ("id", "taro"), ("pw", "secret"))
PROFILE_SAVE = command("changeprof2", ("id", "taro"), ("pw", "secret"), ("realname", "T"),
                       ("mail", "m"))


class OddFileCase(unittest.TestCase):
    def run_gate(self, site, request):
        """request: a form body, ("GET", query) or ("multipart", parts). The reply."""
        if request[0] == "GET":
            env, body = cgi_harness.cgi_env("GET", query=request[1]), b""
        elif request[0] == "multipart":
            body = pages.multipart(*request[1])
            env = site.post_env(body, content_type=pages.multipart_type())
        else:
            env, body = site.post_env(request), request
        result = site.run(env, body, timeout=TIMEOUT)
        # A sanitizer report changes the exit code; the error reply logs to stderr.
        self.assertEqual(0, result.exit_code, cgi_harness.escape_bytes(result.stderr))
        self.last_stderr = result.stderr
        return result.stdout

    def assert_server_error(self, site, request):
        answer = self.run_gate(site, request)
        self.assertTrue(answer.startswith(SERVER_ERROR), cgi_harness.escape_bytes(answer[:300]))
        self.assertIsNotNone(LOG_LINE.fullmatch(self.last_stderr),
                             cgi_harness.escape_bytes(self.last_stderr))
        return answer


@unittest.skipIf(cgi_harness.under_wine(), "Windows file systems hold no FIFOs")
class Fifos(OddFileCase):
    """A FIFO is a file that cannot be read: status 500, and never a wait for a writer."""

    def test_fifo_at_a_record_settings_config_counter_or_image_path(self):
        profile_query = ("GET", "showuser=taro&session=site1")
        leaf = ("multipart", posting(member=b"taro"))
        no_upload = ("multipart", posting(member=b"taro", upload=None))
        cases = (
            ("record, profile query", "members/taro.txt", {}, profile_query),
            ("record, changepw", "members/taro.txt", {}, CHANGE_PW),
            ("record, change-profile form", "members/taro.txt", {}, PROFILE_FORM),
            ("record, profile save", "members/taro.txt", {}, PROFILE_SAVE),
            ("record, postleaf", "members/taro.txt", {}, leaf),
            ("site settings", "sessions/site1.txt", {}, PROFILE_FORM),
            ("site settings, profile query", "sessions/site1.txt", {}, profile_query),
            ("configuration", "config.txt", {}, REGISTER),
            ("counter", "leaves/counter.txt", {"FileNameTemplate": "leaf#"}, leaf),
            ("default image", "default.png", {"DefaultImgFile": "DEFAULT"}, no_upload),
        )
        for label, fifo, settings, request in cases:
            with self.subTest(label):
                site = leaf_site(self)
                site.set_settings(**{key: site.path(fifo) if value == "DEFAULT" else value
                                     for key, value in settings.items()})
                site.write_member("taro", b"id=taro\r\npw=secret\r\n")
                if os.path.exists(site.path(fifo)):
                    os.remove(site.path(fifo))
                os.mkfifo(site.path(fifo))
                self.assert_server_error(site, request)
                self.assertTrue(stat.S_ISFIFO(os.stat(site.path(fifo)).st_mode))
                self.assertEqual([], [n for n in site.leaf_files() if n != "counter.txt"])


class NulBytes(OddFileCase):
    """A record holding a NUL byte would lose its lines after the byte when rewritten."""

    def test_saves_of_a_record_with_a_nul_byte_fail_and_keep_every_byte(self):
        record = b"id=taro\r\npw=secret\r\nrealname=A\0B\r\nmail=m\r\n"
        for label, request in (("changepw", CHANGE_PW), ("profile save", PROFILE_SAVE)):
            with self.subTest(label):
                site = GateSite(self)
                site.write_member("taro", record)
                self.assert_server_error(site, request)
                self.assertIn(os.path.basename(site.member_path("taro")), self.last_stderr)
                self.assertEqual(record, site.read_member("taro"))
                self.assertEqual([b"taro.txt"], site.member_files())


class Directories(OddFileCase):
    """A directory is no file: it neither makes a name taken nor serves as one."""

    def test_directory_at_the_record_of_a_registration(self):
        site = GateSite(self)
        os.mkdir(site.member_path("taro"))
        self.assert_server_error(site, REGISTER)
        self.assertEqual([b"taro.txt"], site.member_files())
        self.assertEqual([], os.listdir(site.member_path("taro")))

    def test_directory_at_a_leaf_name_or_counter_stores_nothing(self):
        # A counter made before the name search stays, as the search had not started.
        cases = (
            ("three-digit name", {"nameorder": "num3d"}, "leaves/001.txt", []),
            ("three-digit image name", {"nameorder": "num3d"}, "leaves/001.jpg", []),
            ("counter name", {"FileNameTemplate": "leaf##"}, "leaves/leaf01.jpg", ["counter.txt"]),
            ("counter file", {"FileNameTemplate": "leaf##"}, "leaves/counter.txt", []),
            ("counter in a missing directory",
             {"FileNameTemplate": "leaf##", "FileNameCounter": "missing/counter.txt"}, None, []),
        )
        for label, settings, directory, made in cases:
            with self.subTest(label):
                site = leaf_site(self, **settings)
                if directory:
                    os.mkdir(site.path(directory))
                before = sorted(os.listdir(site.leaves) + made)
                self.assert_server_error(site, ("multipart", posting()))
                self.assertEqual(before, sorted(name for name in os.listdir(site.leaves)
                                                if name != ".leaf0" or site.read("leaves/.leaf0")))
                self.assertFalse(os.path.exists(site.path("missing")))
                if directory:
                    self.assertEqual([], os.listdir(site.path(directory)))


class LongIds(OddFileCase):
    """Every id whose record name fits a file name registers and is rewritten."""

    @unittest.skipIf(cgi_harness.under_wine(),
                     "Windows limits a whole path to 260 characters (MAX_PATH), not a name")
    def test_ids_up_to_the_name_limit(self):
        site = GateSite(self)
        for length in (230, 231, 247, 248, 251):
            member = "i%d" % length
            member += "x" * (length - len(member))
            with self.subTest(length):
                def post(name, *pairs):
                    return self.run_gate(site, command(name, ("id", member), *pairs))
                self.assertEqual(reply(pages.registration_accepted_page()), post(
                    "registration", ("pw", "secret"), ("pw2", "secret"), ("realname", "R"),
                    ("mail", "m")))
                self.assertEqual(reply(pages.registration_accepted_page()), post(
                    "changepw", ("pw0", "secret"), ("pw1", "Secret2"), ("pw2", "Secret2")))
                self.assertEqual(reply(pages.profile_page(member, {"realname": b"Q"})), post(
                    "changeprof2", ("pw", "Secret2"), ("realname", "Q"), ("mail", "m")))
                self.assertEqual(pages.record(("id", member), ("pw", "Secret2"), ("realname", "Q"),
                                              ("country", ""), ("mail", "m")),
                                 site.read_member(member))
        self.assertEqual(5, len(site.member_files()))

    @unittest.skipIf(cgi_harness.under_wine(),
                     "Windows keeps access rights in access control lists, not in mode bits")
    def test_rewrites_keep_a_private_records_permissions(self):
        site = GateSite(self)
        site.write_member("taro", b"id=taro\r\npw=secret\r\n")
        os.chmod(site.member_path("taro"), 0o600)
        for body in (CHANGE_PW, command("changeprof2", ("id", "taro"), ("pw", "Secret2"),
                                        ("realname", "T"), ("mail", "m"))):
            self.assertTrue(self.run_gate(site, body).startswith(b"Status: 200 OK\r\n"))
            self.assertEqual(0o600, stat.S_IMODE(os.stat(site.member_path("taro")).st_mode))
        self.assertEqual(b"id=taro\r\npw=Secret2\r\nrealname=T\r\nmail=m\r\n",
                         site.read_member("taro"))


if __name__ == "__main__":
    unittest.main()

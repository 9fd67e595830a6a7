"""The operator commands on a served site while profile queries, postings and password
changes run through a real server: every reply is an expected page, every record whole."""

import os
import subprocess
import threading
import time
import unittest

import gate_pages as pages
import served_site
from test_servers import ServerCases

MEMBERS = ("op1", "poster", "changer")
ACCEPTED = (200, pages.registration_accepted_page())


class OperatorCommandsUnderLoad(served_site.SiteCases, unittest.TestCase):
    SITE = served_site.Lighttpd
    post_form, post_multipart, register = ServerCases.post_form, ServerCases.post_multipart, ServerCases.register

    def request(self, method, path, body=None, headers=None):
        answer = ServerCases.request(self, method, path, body, headers)
        return answer.status, answer.body

    def profile(self, member):
        return self.request("GET", "/cgi/orvanegate.exe?showuser=%s&session=demo" % member)

    def post_leaf(self):
        return self.post_multipart(*ServerCases.posting(self, "poster", ("upfile", "p.png", "image/png", b"PNG"),
                                                        session="gallery"))

    def changepw(self, member, old, new):
        return self.post_form(("session", "demo"), ("command", "changepw"), ("id", member), ("pw0", old),
                              ("pw1", new), ("pw2", new))

    def operate(self, *args, stdin=b""):
        done = subprocess.run([self.site.path("cgi", "orvanegate.exe"), *args], input=stdin, capture_output=True,
                              timeout=30, env=served_site.SERVER_ENVIRONMENT, **served_site.server_account())
        self.assertEqual(0, done.returncode, done.stderr)
        return done.stdout

    def record_lines(self, member):  # read straight from disk: always whole
        lines = self.site.read("data", "members", member + ".txt").split(b"\r\n")
        assert lines[0] == b"id=" + member.encode() and lines[-1] == b"", lines
        assert sum(line.startswith((b"pw=", b"pwhash=$argon2id$")) for line in lines) == 1, lines
        return lines

    def test_commands_while_requests_run(self):
        for member in MEMBERS:
            self.assertEqual(ACCEPTED, self.register(member, realname="Name"))
        leaf, shown = self.post_leaf(), {member: self.profile(member) for member in MEMBERS}
        locking, stop, faults, passwords = threading.Event(), threading.Event(), [], ["secret1", "x2345"]

        def query():
            for member in MEMBERS:
                answer = self.profile(member)
                self.record_lines(member)
                # Read after the answer: the lock is announced before it is made.
                if answer not in [shown[member]] + [(200, b"")] * (member == "op1" and locking.is_set()):
                    return "profile of %s: %r" % (member, answer)

        def change():
            passwords.reverse()
            return None if self.changepw("changer", passwords[1], passwords[0]) == ACCEPTED else "changepw"

        def run(step):
            while not stop.is_set() and not faults:
                try:
                    fault = step()
                except Exception as error:
                    fault = repr(error)
                if fault:
                    faults.append(fault)

        steps = (query, query, change, lambda: None if self.post_leaf() == leaf else "posting")
        threads = [threading.Thread(target=run, args=(step,)) for step in steps]
        for thread in threads:
            thread.start()
        try:
            time.sleep(2)
            self.operate("--set-password", "demo", "op1", stdin=b"Oper&tor 1\n")
            self.assertEqual(ACCEPTED, self.changepw("op1", "Oper&tor 1", "secret3"))
            locking.set()
            self.assertIn(b"locked: op1", self.operate("--lock", "demo", "op1"))
            self.operate("--remove-leaf", "gallery", "001")
            time.sleep(2)
        finally:
            stop.set()
            for thread in threads:
                thread.join(30)
        self.assertEqual([], faults, self.site.error_log()[-2000:])
        self.assertEqual((200, b""), self.profile("op1"))
        self.assertEqual((200, pages.error_page(pages.PW_NOT_CHANGED)), self.changepw("op1", "secret3", "secret4"))
        self.assertEqual(b"locked=1", self.record_lines("op1")[-2])
        self.assertEqual(b"changer\nop1\nposter\n", self.operate("--list-members", "demo"))
        gallery = {name for name in os.listdir(self.site.path("htdocs", "gallery")) if not name.startswith(".leaf")}
        leaves = {name[:3] for name in gallery if name[0] != "."}
        self.assertGreater(len(leaves), 3, "too few postings ran")
        self.assertEqual({".removed.001"} | {n + e for n in leaves - {"001"} for e in (".png", ".txt")}, gallery)


if __name__ == "__main__":
    unittest.main()

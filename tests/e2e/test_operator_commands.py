"""Operator commands on a served site under load: every reply expected, every record whole."""

import os
import subprocess
import threading
import time
import unittest

import gate_pages as pages
import served_site
from test_servers import ServerCases

MEMBERS, ACCEPTED = ("changer", "op1", "poster"), (200, pages.registration_accepted_page())


class OperatorCommandsUnderLoad(served_site.SiteCases, unittest.TestCase):
    SITE = served_site.LighttpdFastCgi
    post_form, post_multipart, register, posting = (ServerCases.post_form, ServerCases.post_multipart,
                                                    ServerCases.register, ServerCases.posting)

    def request(self, method, path, body=None, headers=None):
        answer = ServerCases.request(self, method, path, body, headers)
        return answer.status, answer.body

    def operate(self, *args, stdin=b""):
        done = subprocess.run([self.site.path("cgi", "orvanegate.exe"), *args], input=stdin, capture_output=True,
                              timeout=30, env=served_site.SERVER_ENVIRONMENT, **served_site.server_account())
        self.assertEqual(0, done.returncode, done.stderr)
        return done.stdout

    def test_commands_while_requests_run(self):
        profile = lambda m: self.request("GET", "/cgi/orvanegate.exe?showuser=%s&session=demo" % m)
        post = lambda: self.post_multipart(*self.posting("poster", ("upfile", "p.png", "image/png", b"P"),
                                                         session="gallery"))
        changepw = lambda m, old, new: self.post_form(("session", "demo"), ("command", "changepw"), ("id", m),
                                                      ("pw0", old), ("pw1", new), ("pw2", new))
        self.assertEqual([ACCEPTED] * 3, [self.register(m, realname="N") for m in MEMBERS])
        leaf, shown = post(), {m: profile(m) for m in MEMBERS}
        locking, stop, faults, passwords = threading.Event(), threading.Event(), [], ["secret1", "x2345"]

        def query():
            for m in MEMBERS:  # the lock is announced before it is made: asked after the answer
                answer, text = profile(m), self.site.read("data", "members", m + ".txt")
                if answer not in [shown[m]] + [(200, b"")] * (m == "op1" and locking.is_set()):
                    return "profile of %s: %r" % (m, answer)
                tail = b"mail=m@example.com\r\n" + b"locked=1\r\n" * (b"\nlocked=" in text)
                if not (text.startswith(b"id=%s\r\n" % m.encode()) and text.endswith(tail)):
                    return "torn record %r" % text

        def change():
            passwords.reverse()
            return None if changepw("changer", *passwords[::-1]) == ACCEPTED else "changepw"

        def run(step):
            while not stop.is_set() and not faults:
                try:
                    fault = step()
                except Exception as error:
                    fault = repr(error)
                faults.extend([fault] if fault else [])

        steps = (query, query, change, lambda: None if post() == leaf else "posting")
        threads = [threading.Thread(target=run, args=(step,), daemon=True) for step in steps]
        [thread.start() for thread in threads]
        try:
            time.sleep(2)
            self.operate("--set-password", "demo", "op1", stdin=b"Oper&tor 1\n")
            self.assertEqual(ACCEPTED, changepw("op1", "Oper&tor 1", "secret3"))
            locking.set()
            self.assertIn(b"locked: op1", self.operate("--lock", "demo", "op1"))
            self.operate("--remove-leaf", "gallery", "001")
            time.sleep(2)
        finally:
            stop.set()
            [thread.join(30) for thread in threads]
        self.assertEqual(([], (200, b"")), (faults, profile("op1")), self.site.error_log()[-2000:])
        self.assertEqual(b"".join(m.encode() + b"\n" for m in MEMBERS), self.operate("--list-members", "demo"))
        gallery = {n for n in os.listdir(self.site.path("htdocs", "gallery")) if not n.startswith(".leaf")}
        leaves = {name[:3] for name in gallery if name[0] != "."}
        self.assertGreater(len(leaves), 3, "too few postings ran")
        self.assertEqual({".removed.001"} | {n + e for n in leaves - {"001"} for e in (".png", ".txt")}, gallery)


if __name__ == "__main__":
    unittest.main()

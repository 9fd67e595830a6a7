"""The request cycle seen from outside: one request in, one reply (or none) out."""

import os
import subprocess
import unittest

import cgi_harness
from cgi_harness import cgi_env

# The reply of a handled request whose handler set nothing.
EMPTY_REPLY = b"Status: 200 OK\r\nContent-Type: text/html\r\nContent:\r\n\r\n"


class RequestCycle(cgi_harness.CgiTestCase):
    def test_empty_path_info_reaches_the_action_and_is_sent_once(self):
        site = self.make_site()
        for method in ("GET", "POST", "DELETE"):
            with self.subTest(method=method):
                result = self.run_cgi(site, cgi_env(method, content_length=0), expect_stderr=True)
                self.assertEqual(result.exit_code, 0)
                self.assertBytesEqual(EMPTY_REPLY, result.stdout)

    def test_non_empty_path_info_gives_no_output(self):
        site = self.make_site()
        for path_info in ("/x", "/", "/orvanegate.exe"):
            with self.subTest(path_info=path_info):
                result = self.run_cgi(site, cgi_env("GET", path_info=path_info))
                self.assertEqual(result.exit_code, 0)
                self.assertBytesEqual(b"", result.stdout)

    def test_command_line_arguments_are_ignored(self):
        site = self.make_site()
        # A web server sets GATEWAY_INTERFACE; without it the first argument may be an option.
        result = self.run_cgi(site, cgi_env("GET", GATEWAY_INTERFACE="CGI/1.1"),
                              args=("--help", "/x", "-"), expect_stderr=True)
        self.assertEqual(result.exit_code, 0)
        self.assertBytesEqual(EMPTY_REPLY, result.stdout)

    def test_declared_body_is_read_before_the_reply(self):
        site = self.make_site()
        body = b"a=1&b=2"
        result = self.run_cgi(site, cgi_env("POST", content_length=len(body),
                                            CONTENT_TYPE="application/x-www-form-urlencoded"),
                              stdin=body, expect_stderr=True)
        self.assertEqual(result.exit_code, 0)
        self.assertBytesEqual(EMPTY_REPLY, result.stdout)

    def test_reader_gone_before_the_reply_still_exits_with_zero(self):
        site = self.make_site()
        read_end, write_end = os.pipe()
        os.close(read_end)
        try:
            child = site.start(cgi_env("GET"), stdin=subprocess.DEVNULL, stdout=write_end)
        finally:
            os.close(write_end)
        result = cgi_harness.finish(child)
        self.assertEqual(result.exit_code, 0, result.stderr)

    def test_empty_environment(self):
        site = self.make_site()
        result = self.run_cgi(site, {}, expect_stderr=True)
        self.assertEqual(result.exit_code, 0)


class Harness(unittest.TestCase):
    def test_mismatch_shows_escaped_bytes(self):
        with self.assertRaises(AssertionError) as caught:
            cgi_harness.assert_bytes_equal(b"a\r\n\x82\xa0", b"a\r\n\x82\xa1")
        text = str(caught.exception)
        self.assertIn("differs at byte 4", text)
        self.assertIn("\\x82\\xa0", text)
        self.assertIn("\\x82\\xa1", text)


if __name__ == "__main__":
    unittest.main()

"""The gate's request handler run as a CGI process: configuration, the profile query,
the refusal of forms from other sites, the body and its dump, the site settings checks
and the routing of commands."""

import datetime
import os
import re
import unittest

import cgi_harness
import gate_pages as pages
from gate_site import GateSite, reply, split_reply

ERROR_LOG = re.compile(rb"\A\d{8}-\d\d:\d\d:\d\d\r\nsessiondb error\r\n\Z")
STAMP_FILE = re.compile(r"\A(\d{8})-\d{6}-\d{3}\.txt\Z")

REGISTER_TARO = (("session", "site1"), ("command", "registration"), ("id", "taro"),
                 ("pw", "secret"), ("pw2", "secret"), ("realname", "Taro"), ("mail", "t@x.jp"))


class ConfigurationTest(unittest.TestCase):
    def assert_logged_empty_page(self, site):
        stdout, stderr = site.post_logged(pages.urlencoded(*REGISTER_TARO))
        site.assert_page(b"", stdout)
        self.assertRegex(stderr, rb'\Aorvanegate: configuration: sessiondb error: .*config\.txt" ')
        with open(os.path.join(site.root, "error.txt"), "rb") as f:
            self.assertRegex(f.read(), ERROR_LOG)
        self.assertEqual([], site.member_files())

    def test_no_config_gives_empty_page_and_error_log(self):
        self.assert_logged_empty_page(GateSite(self, config=False))

    def test_sessiondb_unusable_gives_empty_page_and_error_log(self):
        for label, config in (("missing directory", b"sessiondb=/nonexistent/orvane\r\n"),
                              ("empty value", b"sessiondb=\r\n"),
                              ("no key", b"dumppath=/tmp\r\n"),
                              ("space before =", b"sessiondb =%s\r\n")):
            with self.subTest(label):
                site = GateSite(self)
                site.write_config(config.replace(b"%s", site.sessions.encode()))
                self.assert_logged_empty_page(site)

    def test_config_keys_match_in_any_case_and_without_final_delimiter(self):
        site = GateSite(self)
        site.write_config(("SessionDB=%s\r\nsessiondb=/nonexistent\r\n" % site.sessions).encode())
        site.assert_page(pages.registration_accepted_page(), site.post_form(*REGISTER_TARO))
        self.assertFalse(os.path.exists(os.path.join(site.root, "error.txt")))


class ProfileQueryTest(unittest.TestCase):
    RECORD = {"realname": b"Taro&nbsp;Y", "country": b"JP", "comment": b"&lt;hi&gt;",
              "url1": b"http://a.example/", "urlname1": b"A"}

    def setUp(self):
        self.site = GateSite(self, dump=True)
        self.site.write_member("abc", pages.record(("id", "abc"), ("pw", "secret"),
                                                   *self.RECORD.items()))

    def tearDown(self):
        self.assertEqual([], self.site.dump_files(), "a profile query is never dumped")

    def test_query_answers_with_profile_page(self):
        expected = pages.profile_page("abc", self.RECORD)
        for query in ("showuser=abc&session=site1", "ShowUser=abc&SESSION=site1",
                      "session=site1&x=1&showuser=abc&showuser=zzz"):
            with self.subTest(query):
                self.site.assert_page(expected, self.site.get(query))

    def test_showuser_is_decoded_twice(self):
        self.site.write_member("A", pages.record(("id", "A"), ("realname", "Upper")))
        self.site.assert_page(pages.profile_page("A", {"realname": b"Upper"}),
                              self.site.get("showuser=%2541&session=site1"))

    def test_double_byte_id_whose_second_byte_is_a_backslash(self):
        member = "表"  # 0x95 0x5C
        self.site.write_member(member, pages.record(("id", member), ("realname", "Hyo")))
        self.site.assert_page(pages.profile_page(member, {"realname": b"Hyo"}),
                              self.site.get("showuser=%2595%255C&session=site1"))

    def test_unknown_member_or_session_gives_empty_page(self):
        queries = ["showuser=nobody&session=site1", "showuser=abc&session=nosite"]
        if not cgi_harness.names_ignore_case():
            queries.append("showuser=ABC&session=site1")  # another member where case counts
        for query in queries:
            with self.subTest(query):
                self.site.assert_page(b"", self.site.get(query))

    def test_names_leaving_their_directory_give_empty_page(self):
        # Each would name an existing file if it were joined into a path unchanged.
        os.mkdir(os.path.join(self.site.sessions, "sub"))
        self.site.write_session("sub/site1", "path=%s\r\nmembersdb=%s\r\n"
                                % (self.site.leaves, self.site.members))
        os.mkdir(os.path.join(self.site.members, "sub"))
        self.site.write_member("sub/abc", pages.record(("id", "x"), ("realname", "Leak")))
        self.site.write_member("a\\b", pages.record(("id", "x"), ("realname", "Leak")))
        self.site.write_member("a:b", pages.record(("id", "x"), ("realname", "Leak")))
        self.site.write_member("a\tb", pages.record(("id", "x"), ("realname", "Leak")))
        # A "/" after a lead byte is no second byte: it still separates directories.
        os.mkdir(os.path.join(os.fsencode(self.site.members), b"\x81"))
        self.site.write_member(b"\x81/abc", pages.record(("id", "x"), ("realname", "Leak")))
        for query in ("showuser=abc&session=sub%2Fsite1", "showuser=sub%252Fabc&session=site1",
                      "showuser=%2581%252Fabc&session=site1",
                      "showuser=sub/abc&session=site1", "showuser=a%255Cb&session=site1",
                      "showuser=a%253Ab&session=site1", "showuser=a%2509b&session=site1",
                      "showuser=..%252Fmembers%252Fabc&session=site1"):
            with self.subTest(query):
                self.site.assert_page(b"", self.site.get(query))

    def test_post_with_query_is_answered_with_profile_and_runs_no_command(self):
        body = pages.urlencoded(*REGISTER_TARO)
        self.site.assert_page(pages.profile_page("abc", self.RECORD),
                              self.site.post(body, query="showuser=abc&session=site1"))
        self.assertEqual([b"abc.txt"], self.site.member_files())


class QueryFallThroughTest(unittest.TestCase):
    def test_incomplete_query_falls_through_to_the_body(self):
        site = GateSite(self, dump=True)
        site.write_member("abc", pages.record(("id", "abc")))
        for query in ("showuser=abc", "showuser=abc&session=", "session=site1", "x"):
            with self.subTest(query):
                site.assert_error(pages.NO_DATA, site.get(query))
        site.assert_page(pages.registration_accepted_page(),
                         site.post_form(*REGISTER_TARO, query="session=site1&command=x"))
        self.assertEqual(5, len(site.dump_files()))


class CrossSiteTest(unittest.TestCase):
    ALLOWED = "https://www.example.com  http://Partner.test:8080\tnull"
    # (method, Origin, Host, other variables, refused: None for a request that runs no
    # command and is answered all the same)
    CASES = (
        ("POST", None, "gate.test", {}, False),
        ("POST", "http://gate.test", "gate.test", {}, False),
        ("POST", "http://GATE.Test:80", "gate.test", {}, False),
        ("POST", "http://gate.test", "Gate.test:80", {}, False),
        ("POST", "https://gate.test", "gate.test", {"HTTPS": "on"}, False),
        ("POST", "https://gate.test:443", "gate.test:443", {"HTTPS": "ON"}, False),
        ("POST", "http://[::1]:8080", "[::1]:8080", {}, False),
        ("POST", "", "gate.test", {}, False),
        ("POST", "http://gate.test", "gate.test", {"HTTP_SEC_FETCH_SITE": "same-origin"}, False),
        ("POST", None, None, {"HTTP_SEC_FETCH_SITE": "none"}, False),
        ("POST", "https://www.example.com", "gate.test", {}, False),
        ("POST", "https://www.example.com:443", "gate.test", {"HTTP_SEC_FETCH_SITE": "cross-site"}, False),
        ("POST", "http://partner.test:8080", "gate.test", {}, False),
        ("POST", "http://evil.test", "gate.test", {}, True),
        ("POST", "http://gate.test:8080", "gate.test", {}, True),
        ("POST", "http://gate.test", "gate.test:8080", {}, True),
        ("POST", "https://gate.test", "gate.test", {}, True),
        ("POST", "http://gate.test", "gate.test", {"HTTPS": "on"}, True),
        ("POST", "http://gate.test.evil.test", "gate.test", {}, True),
        ("POST", "http://gate.test/", "gate.test", {}, True),
        ("POST", "null", "gate.test", {}, True),
        ("POST", "http://evil.test\tx", "gate.test", {}, True),
        ("POST", "http://gate.test", None, {}, True),
        ("POST", "http://www.example.com", "gate.test", {}, True),
        ("POST", "http://partner.test", "gate.test", {}, True),
        ("POST", None, "gate.test", {"HTTP_SEC_FETCH_SITE": "cross-site"}, True),
        ("POST", "http://gate.test", "gate.test", {"HTTP_SEC_FETCH_SITE": "same-site"}, True),
        ("GET", "http://evil.test", "gate.test", {"HTTP_SEC_FETCH_SITE": "cross-site"}, None),
        ("POST", "http://evil.test", "gate.test", {"HTTP_SEC_FETCH_SITE": "cross-site",
                                                   "QUERY_STRING": "showuser=u&session=site1"}, None),
    )

    def test_forms_from_other_sites_are_refused_before_anything_is_written(self):
        site = GateSite(self, dump=True)
        site.write_config(("sessiondb=%s\r\ndumppath=%s\r\nallowedorigins=%s\r\n"
                           % (site.sessions, site.dumps, self.ALLOWED)).encode())
        refused = reply(pages.error_page(pages.CROSS_SITE), "403 Forbidden")
        for number, (method, origin, host, more, is_refused) in enumerate(self.CASES):
            with self.subTest(method=method, origin=origin, host=host, **more):
                member = "u%d" % number
                body = pages.urlencoded(*REGISTER_TARO[:2], ("id", member), *REGISTER_TARO[3:])
                env = dict(site.post_env(body), REQUEST_METHOD=method, REMOTE_ADDR="10.0.0.1",
                           **more)
                env.update({k: v for k, v in (("HTTP_ORIGIN", origin), ("HTTP_HOST", host))
                            if v is not None})
                dumps = len(site.dump_files())
                result = site.run(env, body if method == "POST" else b"")
                if is_refused:
                    self.assertEqual(refused, result.stdout)
                    self.assertEqual(b"orvanegate: cross-site request refused: address 10.0.0.1"
                                     b" origin %s\n" % (origin or "-").replace("\t", "\\x09").encode(),
                                     result.stderr)
                    self.assertEqual(dumps, len(site.dump_files()))
                else:
                    self.assertEqual((b"", b"Status: 200 OK"), (result.stderr, result.stdout[:14]))
                    self.assertEqual(is_refused is False, os.path.exists(site.member_path(member)))
        self.assertFalse(os.path.exists(os.path.join(site.root, "error.txt")))


class DumpTest(unittest.TestCase):
    def assert_one_dump(self, site, body):
        dumps = site.dump_files()
        self.assertEqual(1, len(dumps), dumps)
        day, name, data = dumps[0]
        match = STAMP_FILE.match(name)
        self.assertIsNotNone(match, name)
        # The clock is read for the stamp first, so the day may be the next one.
        stamp_day = datetime.datetime.strptime(match.group(1), "%Y%m%d")
        self.assertIn(day, (match.group(1), (stamp_day + datetime.timedelta(days=1)).strftime("%Y%m%d")))
        self.assertEqual(body, data)

    def test_every_body_is_dumped_byte_for_byte(self):
        image = bytes(range(256)) + b"\r\n\r\n\x00&=\r"
        cases = (
            ("empty body", b"", "", pages.error_page(pages.NO_DATA)),
            ("no field", b" \t\r\n  ", "", pages.error_page(pages.NO_DATA)),
            ("unknown command", pages.urlencoded(("session", "site1"), ("command", "nothing")),
             "", b""),
            ("multipart with image", pages.multipart(("session", "site1"), ("command", "x"),
                                                     ("upfile", "a.png", "image/png", image)),
             pages.multipart_type(), b""),
            ("no session", pages.urlencoded(("command", "registration")), "",
             pages.error_page(pages.NO_SESSION)),
        )
        for label, body, ctype, page in cases:
            with self.subTest(label):
                site = GateSite(self, dump=True)
                actual = site.post(body, content_type=ctype or "application/x-www-form-urlencoded")
                site.assert_page(page, actual)
                self.assert_one_dump(site, body)

    def test_requests_of_one_day_share_the_day_directory(self):
        site = GateSite(self, dump=True)
        for n in range(3):
            site.post_form(("session", "site1"), ("n", str(n)))
        dumps = site.dump_files()
        self.assertEqual(3, len(dumps))
        self.assertLessEqual(len({day for day, _, _ in dumps}), 2)
        self.assertEqual(sorted(b"session=site1&n=%d" % n for n in range(3)),
                         sorted(data for _, _, data in dumps))

    def test_no_dumppath_or_missing_dump_directory_writes_nothing(self):
        site = GateSite(self)
        site.post_form(*REGISTER_TARO)
        self.assertFalse(os.path.exists(site.dumps))
        site.write_config(("sessiondb=%s\r\ndumppath=%s\r\n" % (site.sessions, site.dumps)).encode())
        site.assert_page(b"", site.post_form(("session", "site1")))
        self.assertFalse(os.path.exists(site.dumps))

    def test_short_body_is_handled_with_the_bytes_that_arrived(self):
        site = GateSite(self, dump=True)
        body = pages.urlencoded(("session", "site1"), ("command", "registration"), ("id", "ab"),
                                ("pw", "12345"), ("pw2", "12345"), ("realname", "R"),
                                ("mail", "m"))
        body += b"&x=" + b"y" * (90 - len(body) - 3)
        self.assertEqual(90, len(body))
        site.assert_page(pages.registration_accepted_page(), site.post(body, content_length=150))
        self.assert_one_dump(site, body)
        self.assertEqual(pages.registration_record("ab", "12345", "R", "", "m"),
                         site.read_member("ab"))

    def test_dump_that_cannot_be_written_fails_with_status_500_before_the_command(self):
        site = GateSite(self, dump=True)
        # A regular file in place of every day directory the request could use.
        today = datetime.date.today()
        for delta in (-1, 0, 1, 2):
            day = (today + datetime.timedelta(days=delta)).strftime("%Y%m%d")
            with open(os.path.join(site.dumps, day), "wb") as f:
                f.write(b"occupied")
        stdout, stderr = site.post_logged(pages.urlencoded(*REGISTER_TARO))
        head, page = split_reply(stdout)
        self.assertTrue(head.startswith(b"Status: 500 Internal Server Error\r\n"), head)
        dumps = cgi_harness.native_path(site.dumps) + cgi_harness.native_separator()
        separator = re.escape(cgi_harness.native_separator().encode())
        self.assertRegex(stderr, re.compile(
            re.escape(pages.sj("orvanegate: status 500: EFCreateError: ファイル \"" + dumps))
            + rb"\d{8}" + separator + rb"\d{8}-\d{6}-\d{3}\.txt\". [^\r\n]+"
            + re.escape(pages.sj(" を作成できません (request: POST /cgi/orvanegate.exe)\n")) + rb"\Z"))
        self.assertRegex(page, re.compile(
            re.escape(pages.sj("<html><body><h1>Internal Application Error / 内部アプリケーションエラー</h1>\r\n<p>ファイル &quot;"
                               + dumps)) + rb"\d{8}" + separator + rb"\d{8}-\d{6}-\d{3}\.txt&quot;\. .+"
            + re.escape(pages.sj(" を作成できません\r\n<p><hr width=\"100%\"><i></i></body></html>")) + rb"\Z",
            re.S))
        self.assertEqual([], site.member_files())


class DecodingTest(unittest.TestCase):
    def test_url_encoded_and_multipart_bodies_register_alike(self):
        fields = (("session", "site1"), ("command", "registration"), ("id", "taro"),
                  ("pw", "secret"), ("pw2", "secret"), ("realname", "Taro Y"),
                  ("country", ""), ("mail", "t@x.jp"))
        expected = pages.registration_record("taro", "secret", "Taro&nbsp;Y", "", "t@x.jp")
        for label, send in (
                ("url-encoded", lambda s: s.post_form(*fields)),
                ("multipart", lambda s: s.post_multipart(*fields)),
                ("multipart with another content type",
                 lambda s: s.post(pages.multipart(*fields), content_type="text/plain")),
                ("url-encoded with a multipart content type",
                 lambda s: s.post(pages.urlencoded(*fields), content_type=pages.multipart_type()))):
            with self.subTest(label):
                site = GateSite(self)
                site.assert_page(pages.registration_accepted_page(), send(site))
                self.assertEqual(expected, site.read_member("taro"))

    def test_multipart_fields_are_trimmed_at_the_end_only(self):
        site = GateSite(self)
        site.assert_page(pages.registration_accepted_page(), site.post_multipart(
            ("session", "site1"), ("command", "registration"), ("id", "taro"), ("pw", "secret\r\n "),
            ("pw2", "secret"), ("realname", " Taro\t"), ("mail", "m")))
        self.assertEqual(pages.registration_record("taro", "secret", "&nbsp;Taro", "", "m"),
                         site.read_member("taro"))


class SettingsAndRoutingTest(unittest.TestCase):
    def test_session_and_memberdb_checks_come_before_the_command(self):
        site = GateSite(self)
        site.write_session("nopath", "path=%s/missing\r\nmembersdb=%s\r\n" % (site.root, site.members))
        site.write_session("nomembers", "path=%s\r\nmembersdb=%s/missing\r\n" % (site.leaves, site.root))
        site.write_session("nokeys", "PATH =%s\r\n" % site.leaves)
        site.write_session("cased", "Path=%s\r\nMEMBERSDB=%s\r\npath=/nonexistent\r\n"
                           % (site.leaves, site.members))
        cases = (
            (None, "registration", pages.error_page(pages.NO_SESSION)),
            ("", "registration", pages.error_page(pages.NO_SESSION)),
            ("nosite", "registration", pages.error_page(pages.NO_SESSION)),
            ("nopath", "registration", pages.error_page(pages.NO_SESSION)),
            ("nokeys", "registration", pages.error_page(pages.NO_SESSION)),
            ("nomembers", "registration", pages.error_page(pages.NO_MEMBERDB)),
            ("nomembers", "postleaf", pages.error_page(pages.NO_MEMBERDB)),
            ("nomembers", "nothing", pages.error_page(pages.NO_MEMBERDB)),
            ("nomembers", None, pages.error_page(pages.NO_MEMBERDB)),
            ("cased", "registration", pages.registration_accepted_page()),
        )
        if not cgi_harness.names_ignore_case():  # else SITE1.txt is site1.txt
            cases = (("SITE1", "registration", pages.error_page(pages.NO_SESSION)),) + cases
        for session, command, page in cases:
            with self.subTest(session=session, command=command):
                fields = [("id", "taro"), ("pw", "secret"), ("pw2", "secret"),
                          ("realname", "T"), ("mail", "m")]
                if command is not None:
                    fields.insert(0, ("command", command))
                if session is not None:
                    fields.insert(0, ("session", session))
                stdout, stderr = site.post_logged(pages.urlencoded(*fields))
                site.assert_page(page, stdout)
                logged = session in ("nopath", "nokeys", "nomembers")
                self.assertEqual(logged, stderr.startswith(b"orvanegate: configuration: "))
                self.assertEqual(logged, b'%s.txt"' % str(session).encode() in stderr, stderr)
        self.assertEqual([b"taro.txt"], site.member_files())

    def test_unsafe_session_names_name_no_site(self):
        site = GateSite(self)
        settings = "path=%s\r\nmembersdb=%s\r\n" % (site.leaves, site.members)
        os.mkdir(os.path.join(site.sessions, "sub"))
        site.write_session("sub/site1", settings)
        site.write_session("a\\b", settings)
        site.write_session("a:b", settings)
        site.write_session("site1\x01", settings)
        for session in ("sub/site1", "a\\b", "a:b", "site1\x01", "../sessions/site1",
                        site.sessions + "/site1"):
            with self.subTest(session):
                site.assert_error(pages.NO_SESSION, site.post_form(
                    ("session", session), *REGISTER_TARO[1:]))
        self.assertEqual([], site.member_files())

    def test_empty_session_name_reads_the_settings_file_named_txt(self):
        site = GateSite(self)
        site.write_session("", "path=%s\r\nmembersdb=%s\r\n" % (site.leaves, site.members))
        site.assert_page(pages.registration_accepted_page(),
                         site.post_form(("session", ""), *REGISTER_TARO[1:]))

    def test_commands_match_exactly(self):
        site = GateSite(self)
        for command in ("Registration", "registration ", " registration", "REGISTRATION",
                        "registration2", ""):
            with self.subTest(command):
                site.assert_page(b"", site.post_form(("session", "site1"), ("command", command),
                                                     *REGISTER_TARO[2:]))
        site.assert_page(b"", site.post_form(("session", "site1"), *REGISTER_TARO[2:]))
        self.assertEqual([], site.member_files())

    def test_first_command_field_is_routed(self):
        site = GateSite(self)
        site.assert_page(pages.registration_accepted_page(), site.post_form(
            ("session", "site1"), ("Command", "registration"), ("command", "changepw"),
            *REGISTER_TARO[2:]))


if __name__ == "__main__":
    unittest.main()

"""The account commands run as CGI processes: registration, changepw, changeprof1 and
changeprof2, their messages in check order and the member records they leave."""

import os
import re
import subprocess
import tempfile
import time
import unittest

import cgi_harness
import gate_pages as pages
from gate_site import GateSite, leaf_site, reply, split_reply
from gate_pages import leaf_posting

# A record as an older gate or an administrator may have left it: lone LF line ends,
# a line without "=", an unknown key and no CR LF at the end.
HAND_RECORD = b"id=taro\nnote line\npw=Secret1\nrealname=Taro\nextra=kept\nmail=t@x.jp"

FULL_PROFILE = (("realname", "Taro Yamada"), ("mail", "t@x.jp"), ("comment", "<b>hi</b> & bye"),
                ("url1", "http://a.example/?q=1&r=2"), ("urlname1", "Blog"),
                ("url2", "http://b.example/"), ("urlname2", "日記"),
                ("url3", "http://c.example/"), ("urlname3", "Three"), ("country", "日本"))
FULL_PROFILE_STORED = {"realname": b"Taro&nbsp;Yamada", "mail": b"t@x.jp",
                       "comment": b"&lt;b&gt;hi&lt;/b&gt;&nbsp;&amp;&nbsp;bye",
                       "url1": b"http://a.example/?q=1&amp;r=2", "urlname1": b"Blog",
                       "url2": b"http://b.example/", "urlname2": pages.sj("日記"),
                       "url3": b"http://c.example/", "urlname3": b"Three",
                       "country": pages.sj("日本")}
SAVE_ORDER = ("realname", "country", "mail", "comment", "url1", "url2", "url3",
              "urlname1", "urlname2", "urlname3")


def command(name, *pairs):
    return (("session", "site1"), ("command", name)) + tuple(pairs)


# A realname one byte too long for the registration record of RegistrationTest.VALID,
# which holds 56 bytes besides it.
OVER = "x" * ((64 << 10) - 56 + 1)


class RegistrationTest(unittest.TestCase):
    VALID = {"id": "taro", "pw": "secret", "pw2": "secret", "realname": "Taro",
             "mail": "t@x.jp", "country": "JP"}

    def register(self, site, **changes):
        fields = dict(self.VALID, **changes)
        return site.post_form(*command("registration", *((k, v) for k, v in fields.items()
                                                         if v is not None)))

    def test_rejections_in_check_order(self):
        cases = (
            ("all blank", dict(id="", pw="", pw2="", realname="", mail=""), pages.BLANK),
            *((name + " blank", {name: ""}, pages.BLANK) for name in ("id", "pw", "pw2", "realname", "mail")),
            *((name + " absent", {name: None}, pages.BLANK) for name in ("id", "pw", "pw2", "realname", "mail")),
            ("blank before bad id", dict(id="a/b", mail=""), pages.BLANK),
            ("slash in id", dict(id="a/b", pw2="other"), pages.BAD_ID_CHARS),
            ("backslash in id", dict(id="a\\b"), pages.BAD_ID_CHARS),
            ("colon in id", dict(id="c:x"), pages.BAD_ID_CHARS),
            ("control byte in id", dict(id="a\x01b"), pages.BAD_ID_CHARS),
            ("parent path in id", dict(id="../sessions/site1"), pages.BAD_ID_CHARS),
            ("passwords differ", dict(pw2="secreT"), pages.PW_MISMATCH),
            ("passwords differ before short", dict(pw="abc", pw2="abd"), pages.PW_MISMATCH),
            ("four bytes", dict(pw="abcd", pw2="abcd"), pages.PW_SHORT),
            ("two double-byte characters", dict(pw="表示", pw2="表示"), pages.PW_SHORT),
            ("short before too long", dict(pw="abcd", pw2="abcd", realname=OVER), pages.PW_SHORT),
            ("record one byte over the bound", dict(realname=OVER), pages.ENTRY_TOO_LONG),
            ("escaped quotes over the bound", dict(realname='"' * 10914), pages.ENTRY_TOO_LONG),
            ("too long before a taken id", dict(id="taken", realname=OVER), pages.ENTRY_TOO_LONG),
            ("id too long for a file name", dict(id="x" * 300), pages.BAD_ID_CHARS),
        )
        site = GateSite(self)
        site.write_member("taken", HAND_RECORD)
        for label, changes, message in cases:
            with self.subTest(label):
                site.assert_error(message, self.register(site, **changes))
        self.assertEqual([b"taken.txt"], site.member_files())
        self.assertEqual(sorted(os.listdir(site.sessions)), ["site1.txt"])

    def test_names_windows_treats_specially(self):
        # Harmless where the system has no device names and keeps every name as written;
        # on Windows each would reach a device or another member's file.
        # Shift_JIS bytes that Windows stores under other bytes: the other code of a
        # character with two (its first code names the same file), an undefined code,
        # a lead byte that would take the dot of ".txt".
        names = ("NUL", "con", "Aux.txt", "COM1", "lpt9.x", "taro.", "a|b", "a?b", "a*b",
                 b"\xed\x40", b"a\x85\x40", b"x\x81")
        site = GateSite(self)
        for name in names:
            with self.subTest(name):
                answer = self.register(site, id=name)
                if cgi_harness.under_wine():
                    site.assert_error(pages.BAD_ID_CHARS, answer)
                    query = "".join("%%25%02X" % byte for byte in pages.sj(name))
                    site.assert_page(b"", site.get("showuser=%s&session=site1" % query))
                else:
                    site.assert_page(pages.registration_accepted_page(), answer)
                    self.assertTrue(os.path.isfile(site.member_path(name)))
        if cgi_harness.under_wine():
            self.assertEqual([], site.member_files())

    def test_record_holds_five_lines_and_nothing_else(self):
        site = GateSite(self)
        site.assert_page(pages.registration_accepted_page(),
                         self.register(site, country="", extra="x", pw2="secret"))
        self.assertEqual(b"id=taro\r\npw=secret\r\nrealname=Taro\r\ncountry=\r\nmail=t@x.jp\r\n",
                         site.read_member("taro"))

    def test_password_length_counts_bytes_of_the_escaped_value(self):
        site = GateSite(self)
        for member, pw, stored in (("u1", "表示表", "表示表"), ("u2", "&", "&amp;"),
                                   ("u3", "12345", "12345"), ("u4", "a b", "a&nbsp;b")):
            with self.subTest(pw):
                site.assert_page(pages.registration_accepted_page(),
                                 self.register(site, id=member, pw=pw, pw2=pw))
                self.assertEqual(pages.registration_record(member, stored, "Taro", "JP", "t@x.jp"),
                                 site.read_member(member))

    def test_existing_id_is_refused_and_left_unchanged(self):
        site = GateSite(self)
        site.write_member("taro", HAND_RECORD)
        for label, changes in (("same password", dict(pw="Secret1", pw2="Secret1")),
                               ("other password", {})):
            with self.subTest(label):
                site.assert_error(pages.ID_TAKEN, self.register(site, **changes))
                self.assertEqual(HAND_RECORD, site.read_member("taro"))

    def test_double_byte_id_and_markup_are_stored_escaped_and_shown_escaped(self):
        site = GateSite(self)
        member = "表示"  # its first character ends in the byte of a backslash
        site.assert_page(pages.registration_accepted_page(), self.register(
            site, id=member, realname='<i>"Q" & A</i>', country="日本"))
        expected_name = b"&lt;i&gt;&quot;Q&quot;&nbsp;&amp;&nbsp;A&lt;/i&gt;"
        self.assertEqual(pages.registration_record(member, "secret", expected_name, "日本", "t@x.jp"),
                         site.read_member(member))
        site.assert_page(pages.profile_page(member, {"realname": expected_name,
                                                     "country": pages.sj("日本")}),
                         site.get("showuser=%s&session=site1"
                                  % "".join("%%25%02X" % b for b in pages.sj(member))))

    def test_record_at_the_bound_is_stored_whole(self):
        site = GateSite(self)
        huge = OVER[1:]
        site.assert_page(pages.registration_accepted_page(), self.register(site, realname=huge))
        self.assertEqual(pages.registration_record("taro", "secret", huge, "JP", "t@x.jp"),
                         site.read_member("taro"))
        self.assertEqual(64 << 10, len(site.read_member("taro")))
        # A page of several hundred KiB goes out whole behind its headers.
        site.assert_page(pages.profile_page("taro", {"realname": huge.encode(), "country": b"JP"}),
                         site.get("showuser=taro&session=site1"))

    def test_concurrent_registrations_of_one_id_let_exactly_one_succeed(self):
        site = GateSite(self)
        bodies = [pages.urlencoded(*command("registration", ("id", "race"), ("pw", "secret%d" % n),
                                            ("pw2", "secret%d" % n), ("realname", "R%d" % n),
                                            ("mail", "m")))
                  for n in range(6)]
        results = site.run_together(bodies)
        accepted = [n for n, out in enumerate(results)
                    if out == reply(pages.registration_accepted_page())]
        refused = [n for n, out in enumerate(results) if out == reply(pages.error_page(pages.ID_TAKEN))]
        self.assertEqual(1, len(accepted), results)
        self.assertEqual(5, len(refused), results)
        n = accepted[0]
        self.assertEqual(pages.registration_record("race", "secret%d" % n, "R%d" % n, "", "m"),
                         site.read_member("race"))
        self.assertEqual([b"race.txt"], site.member_files())

    def test_a_network_registers_its_hour_and_no_more(self):
        site = GateSite(self)
        site.set_settings(registrationsperhour="3")
        site.write_member("taken", HAND_RECORD)
        accepted, too_many = (reply(pages.registration_accepted_page()),
                              reply(pages.error_page(pages.TOO_MANY_REGISTRATIONS)))
        body = lambda member_id: pages.urlencoded(*command(
            "registration", *dict(self.VALID, id=member_id).items()))
        # Of a burst at once exactly the hour's are made; a network of any spelling has a
        # count of its own, which a taken id does not raise.
        results = site.run_together([body("b%d" % n) for n in range(5)])
        self.assertEqual([3, 2], [results.count(accepted), results.count(too_many)], results)
        for member_id, address, out in (
                ("a1", "2001:db8::1", accepted), ("taken", "2001:db8::9", reply(pages.error_page(
                    pages.ID_TAKEN))), ("a2", "2001:db8::2", accepted),
                ("a3", "2001:DB8::3", accepted), ("a4", "2001:db8::4:5", too_many),
                ("a4", "2001:db8:1::1", accepted)):
            env = dict(site.post_env(body(member_id)), REMOTE_ADDR=address)
            cgi_harness.assert_bytes_equal(out, site.run(env, body(member_id)).stdout, address)
        self.assertEqual(8, len(site.member_files()))

TIME = "/usr/bin/time"


@unittest.skipIf(cgi_harness.under_wine(), "the peak is read for the process itself")
@unittest.skipUnless(os.access(TIME, os.X_OK), "reading the peak memory needs " + TIME)
class HostileBodyTest(unittest.TestCase):
    """The body that would once have stored a 384 MiB record: refused, in bounded memory."""

    def peak(self, site, body, content_type):
        """(standard output, peak resident bytes) of one POST. The peak is read by a small
        parent: a child of this process would inherit its high-water mark."""
        with tempfile.NamedTemporaryFile() as figures:
            env = dict(cgi_harness.sanitizer_environment(), **site.post_env(body, content_type=content_type))
            child = subprocess.run([TIME, "-f", "%M", "-o", figures.name, site.exe], env=env,
                                   cwd=site.root, input=body, capture_output=True, timeout=120)
            self.assertEqual(b"", child.stderr)
            return child.stdout, int(figures.read().split()[-1]) * 1024

    def test_64_mib_of_quotes_is_refused_in_bounded_memory_writing_nothing(self):
        quotes = b'"' * (64 << 20)
        fields = command("registration", ("id", "taro"), ("pw", "secret"), ("pw2", "secret"),
                         ("mail", "m"))
        for label, body, content_type in (
                ("multipart", pages.multipart(*fields, ("realname", quotes)), pages.multipart_type()),
                ("url-encoded", pages.urlencoded(*fields) + b"&realname=" + quotes,
                 "application/x-www-form-urlencoded")):
            with self.subTest(label):
                site = GateSite(self)
                _, idle = self.peak(site, b"", "text/plain")
                out, peak = self.peak(site, body, content_type)
                site.assert_error(pages.ENTRY_TOO_LONG, out)
                self.assertEqual([], os.listdir(site.members))
                self.assertLessEqual(peak - idle, 2 * len(body) + (4 << 20),
                                     "peak %d MiB above idle" % ((peak - idle) >> 20))

    def test_a_command_that_hashes_a_password_adds_the_hash_memory_alone(self):
        for label, fields in (
                ("registration", command("registration", ("id", "jiro"), ("pw", "Secret1"),
                                         ("pw2", "Secret1"), ("realname", "J"), ("mail", "m"))),
                ("changepw", command("changepw", ("id", "taro"), ("pw0", "Secret1"),
                                     ("pw1", "NewPass"), ("pw2", "NewPass")))):
            with self.subTest(label):
                site = store_site(self, b"argon2id", b"id=taro\r\npwhash=" + VECTORS["linux"] + b"\r\n")
                body = pages.urlencoded(*fields)
                _, idle = self.peak(site, b"", "text/plain")
                out, peak = self.peak(site, body, "application/x-www-form-urlencoded")
                site.assert_page(pages.registration_accepted_page(), out)
                self.assertLessEqual(peak - idle, 2 * len(body) + (4 << 20) + (19 << 20),
                                     "peak %d MiB above idle" % ((peak - idle) >> 20))


class ChangePasswordTest(unittest.TestCase):
    def change(self, site, member="taro", pw0="Secret1", pw1="NewPass", pw2="NewPass"):
        pairs = [(k, v) for k, v in (("id", member), ("pw0", pw0), ("pw1", pw1), ("pw2", pw2))
                 if v is not None]
        return site.post_form(*command("changepw", *pairs))

    def test_rejections_in_check_order_leave_the_record_byte_identical(self):
        site = GateSite(self)
        site.write_member("taro", HAND_RECORD)
        os.mkdir(os.path.join(site.members, "sub"))
        site.write_member("sub/taro", HAND_RECORD)
        site.write_member("l" * 250, HAND_RECORD)
        cases = (
            *((name + " blank", {name: ""}, pages.BLANK) for name in ("member", "pw0", "pw1", "pw2")),
            *((name + " absent", {name: None}, pages.BLANK) for name in ("member", "pw0", "pw1", "pw2")),
            ("unknown id before new passwords", dict(member="jiro", pw2="other"), pages.PW_ID_MISSING),
            ("id leaving the directory", dict(member="sub/taro"), pages.PW_ID_MISSING),
            ("id with a backslash", dict(member="sub\\taro"), pages.PW_ID_MISSING),
            ("id too long for a file name", dict(member="x" * 300), pages.PW_ID_MISSING),
            ("new passwords differ before short", dict(pw1="abc", pw2="abd"), pages.NEW_PW_MISMATCH),
            ("new password short", dict(pw1="abcd", pw2="abcd"), pages.PW_SHORT),
            ("new password over the bound", dict(pw1="p" * 65532, pw2="p" * 65532),
             pages.ENTRY_TOO_LONG),
            ("wrong old password", dict(pw0="Secret2"), pages.PW_NOT_CHANGED),
            ("old password in another case", dict(pw0="secret1"), pages.PW_NOT_CHANGED),
            ("wrong password of an id whose record name is near the longest",
             dict(member="l" * 250, pw0="Secret2"), pages.PW_NOT_CHANGED),
        )
        if not cgi_harness.names_ignore_case():  # else TARO.txt is taro's record
            cases += (("id in another case", dict(member="TARO"), pages.PW_ID_MISSING),)
        for label, changes, message in cases:
            with self.subTest(label):
                site.assert_error(message, self.change(site, **changes))
                self.assertEqual(HAND_RECORD, site.read_member("taro"))
                self.assertEqual(HAND_RECORD, site.read_member("sub/taro"))

    def test_password_is_changed_in_place(self):
        site = GateSite(self)
        site.write_member("taro", HAND_RECORD)
        site.assert_page(pages.registration_accepted_page(), self.change(site, pw1="新しい&", pw2="新しい&"))
        self.assertEqual(b"id=taro\r\nnote line\r\npw=" + pages.sj("新しい&amp;") +
                         b"\r\nrealname=Taro\r\nextra=kept\r\nmail=t@x.jp\r\n", site.read_member("taro"))
        site.assert_page(pages.registration_accepted_page(),
                         self.change(site, pw0="新しい&", pw1="third", pw2="third"))


class ChangeProfileFormTest(unittest.TestCase):
    def assert_form(self, expected_lines, actual):
        head, page = split_reply(actual)
        self.assertEqual(reply(page)[:len(head)], head)
        got = page.split(b"\r\n")
        self.assertEqual(b"", got.pop(), "every line ends in CR LF")
        self.assertEqual(len(expected_lines), len(got))
        for n, (want, line) in enumerate(zip(expected_lines, got)):
            if isinstance(want, tuple):
                self.assertTrue(line.startswith(want[0]) and len(line) > len(want[0]),
                                "line %d: %r" % (n + 1, line))
            else:
                self.assertEqual(pages.sj(want), line, "line %d" % (n + 1))

    def test_rejections_in_check_order(self):
        site = GateSite(self)
        site.write_member("taro", HAND_RECORD)
        os.mkdir(os.path.join(site.members, "sub"))
        site.write_member("sub/taro", HAND_RECORD)
        for label, pairs, page in (
                ("id blank", (("id", ""), ("pw", "Secret1")), pages.error_page(pages.ID_PW_REQUIRED)),
                ("pw absent", (("id", "taro"),), pages.error_page(pages.ID_PW_REQUIRED)),
                ("unknown id", (("id", "jiro"), ("pw", "x")), pages.error_page(pages.PROF_ID_MISSING)),
                ("id leaving the directory", (("id", "sub/taro"), ("pw", "Secret1")),
                 pages.error_page(pages.PROF_ID_MISSING)),
                ("id too long for a file name", (("id", "x" * 300), ("pw", "Secret1")),
                 pages.error_page(pages.PROF_ID_MISSING)),
                ("wrong password", (("id", "taro"), ("pw", "secret1")), b"")):
            with self.subTest(label):
                site.assert_page(page, site.post_form(*command("changeprof1", *pairs)))
        self.assertEqual(HAND_RECORD, site.read_member("taro"))

    def test_form_is_filled_from_the_record(self):
        site = GateSite(self)
        record = dict(FULL_PROFILE_STORED, pw=b"Secret1")
        site.write_member("taro", pages.record(("id", "taro"), *record.items()))
        self.assert_form(pages.change_profile_form_lines("site1", "taro", record),
                         site.post_form(*command("changeprof1", ("id", "taro"), ("pw", "Secret1"))))


# A comment one byte too long for a save by taro with password Secret1: the lines the
# save brings (id, pw and the ten profile keys, all else empty) take 113 bytes besides.
SAVE_ROOM = (64 << 10) - 113 + 1


class ChangeProfileTest(unittest.TestCase):
    def save(self, site, member="taro", pw="secret", profile=FULL_PROFILE, multipart=False):
        fields = command("changeprof2", ("id", member), ("pw", pw), *profile)
        return site.post_multipart(*fields) if multipart else site.post_form(*fields)

    def test_rejections_in_check_order_write_nothing(self):
        site = GateSite(self)
        site.write_member("taro", HAND_RECORD)
        os.mkdir(os.path.join(site.members, "sub"))
        site.write_member("sub/taro", HAND_RECORD)
        for label, kwargs, message in (
                ("id blank", dict(member=""), pages.ID_PW_REQUIRED),
                ("pw blank", dict(pw=""), pages.ID_PW_REQUIRED),
                ("unknown id", dict(member="jiro"), pages.PROF_ID_MISSING),
                ("id leaving the directory", dict(member="sub/taro", pw="Secret1"), pages.PROF_ID_MISSING),
                ("id with a colon", dict(member="sub:taro", pw="Secret1"), pages.PROF_ID_MISSING),
                ("id too long for a file name", dict(member="x" * 300), pages.PROF_ID_MISSING),
                ("profile one byte over the bound",
                 dict(pw="Secret1", profile=(("comment", "c" * SAVE_ROOM),)),
                 pages.ENTRY_TOO_LONG),
                ("wrong password", dict(pw="secret1"), pages.PROF_NOT_CHANGED)):
            with self.subTest(label):
                site.assert_error(message, self.save(site, **kwargs))
                self.assertEqual(HAND_RECORD, site.read_member("taro"))
                self.assertEqual(HAND_RECORD, site.read_member("sub/taro"))

    def test_first_save_orders_lines_and_answers_with_the_profile_page(self):
        for multipart in (False, True):
            with self.subTest(multipart=multipart):
                site = GateSite(self)
                site.write_member("taro", pages.registration_record("taro", "secret", "T", "", "old@x"))
                site.assert_page(pages.profile_page("taro", FULL_PROFILE_STORED),
                                 self.save(site, multipart=multipart))
                self.assertEqual(pages.record(("id", "taro"), ("pw", "secret"),
                                              *((k, FULL_PROFILE_STORED[k]) for k in SAVE_ORDER)),
                                 site.read_member("taro"))

    def test_a_save_at_the_bound_goes_into_a_larger_stored_record(self):
        # What a save brings is bounded, not the record: one written larger earlier saves.
        site = GateSite(self)
        stored = b"id=taro\r\npw=secret\r\nnote=" + b"n" * 200000 + b"\r\n"
        site.write_member("taro", stored)
        comment = "c" * (SAVE_ROOM - 1)  # its password is one byte shorter than Secret1
        site.assert_page(pages.profile_page("taro", {"comment": comment.encode()}),
                         self.save(site, profile=(("comment", comment),)))
        self.assertEqual(stored + b"comment=" + comment.encode() + b"\r\n", site.read_member("taro"))

    def test_missing_or_empty_values_delete_their_lines(self):
        site = GateSite(self)
        site.write_member("taro", HAND_RECORD.replace(b"Secret1", b"secret"))
        for label, profile in (("mail absent", (("realname", "New"), ("extra", "ignored"))),
                               ("mail empty", (("realname", "New"), ("mail", "")))):
            with self.subTest(label):
                site.assert_page(pages.profile_page("taro", {"realname": b"New"}),
                                 self.save(site, profile=profile))
                self.assertEqual(b"id=taro\r\nnote line\r\npw=secret\r\nrealname=New\r\nextra=kept\r\n",
                                 site.read_member("taro"))

    def test_concurrent_saves_all_succeed_and_leave_one_whole_record(self):
        site = GateSite(self)
        site.write_member("taro", pages.registration_record("taro", "secret", "T", "", "m"))
        saves = [(("realname", "Name%d" % n), ("comment", "c" * (2000 * n + 1)), ("mail", "m%d" % n))
                 for n in range(6)]
        bodies = [pages.multipart(*command("changeprof2", ("id", "taro"), ("pw", "secret"), *profile))
                  for profile in saves]
        results = site.run_together(bodies, content_type=pages.multipart_type())
        records = [pages.record(("id", "taro"), ("pw", "secret"), ("realname", "Name%d" % n),
                                ("country", ""), ("mail", "m%d" % n), ("comment", "c" * (2000 * n + 1)))
                   for n in range(6)]
        # Each answer shows the record as it stood after its own save, maybe already
        # overwritten by a later one.
        shown = [reply(pages.profile_page("taro", {"realname": b"Name%d" % n,
                                                   "comment": b"c" * (2000 * n + 1)}))
                 for n in range(6)]
        for out in results:
            self.assertIn(out, shown, out[:300])
        self.assertIn(site.read_member("taro"), records)
        self.assertEqual([b"taro.txt"], site.member_files())


def store_site(test, store, record=None):
    site = leaf_site(test, nameorder="num3d")
    site.write_config(b"sessiondb=%s/\r\npasswordstore=%s\r\n" % (site.sessions.encode(), store))
    if record is not None:
        site.write_member("taro", record)
    return site


# Hashes of Secret1 by each build and argon2-cffi: each build opens all, under either setting.
VECTORS = {
    "linux": b"$argon2id$v=19$m=19456,t=2,p=1$SQR5q+LmZ38dmwdvgVknHg$"
             b"TmkwH59UCZCrT+HtDATaSXbtSCsMRs/3rqYV21h+zFI",
    "windows": b"$argon2id$v=19$m=19456,t=2,p=1$6vAsNWWbFAYXn11efw/V3g$"
               b"Qt9sondfpTyZ9sX3BjUr6pZ5wuKXrso2e+seb/sgC+M",
    "argon2-cffi": b"$argon2id$v=19$m=19456,t=2,p=1$yYRXJqMGIjX80JYEsLIWyA$"
                   b"NSCX1rePWwbwYC4jAVAGBe3o48pbyTnwfFXgsPNzLow",
}
WEAKER = b"$argon2id$v=19$m=8192,t=1,p=1$v9RgtWYwmd7yhtYxKwSkjw$JeQ1k22sVTR+3HQ2A1krloj1WW6ZtpweH5RBpmgcqHU"
# HAND_RECORD as every rewrite leaves it, with {} for its password line.
REWRITTEN = b"id=taro\r\nnote line\r\n{}\r\nrealname=Taro\r\nextra=kept\r\nmail=t@x.jp\r\n"


class PasswordStoreTest(unittest.TestCase):

    def test_right_passwords_store_as_the_setting_asks_keeping_every_other_line(self):
        plain = HAND_RECORD
        weaker = HAND_RECORD.replace(b"pw=Secret1", b"pwhash=" + WEAKER)
        strong = HAND_RECORD.replace(b"pw=Secret1", b"pwhash=" + VECTORS["argon2-cffi"])
        fields = dict(RegistrationTest.VALID, pw="新&pw", pw2="新&pw")
        register = ("registration", command("registration", *fields.items()),
                    pages.registration_accepted_page())
        post = ("postleaf", leaf_posting(member=b"taro", password=b"Secret1"), pages.file_accepted_page())
        change = ("changepw", command("changepw", ("id", "taro"), ("pw0", "Secret1"), ("pw1", "NewPass"),
                                      ("pw2", "NewPass")), pages.registration_accepted_page())
        save = ("changeprof2", command("changeprof2", ("id", "taro"), ("pw", "Secret1"), ("realname", "Taro"),
                                       ("mail", "t@x.jp")),
                pages.profile_page("taro", {"realname": b"Taro", "mail": b"t@x.jp"}))
        for store, before, (name, parts, page), password, after in (  # {} in after: a hash
                (b"argon2id", None, register, pages.sj("新&amp;pw"),
                 b"id=taro\r\n{}\r\nrealname=Taro\r\ncountry=JP\r\nmail=t@x.jp\r\n"),
                (b"argon2id", plain, post, b"Secret1", REWRITTEN),
                (b"argon2id", weaker, post, b"Secret1", REWRITTEN),
                (b"argon2id", strong, post, b"Secret1", strong),
                (b"argon2id", plain, change, b"NewPass", REWRITTEN),
                (b"argon2id", plain, save, b"Secret1", REWRITTEN),
                (b"argon2id", strong, change, b"NewPass", REWRITTEN),
                (b"plain", strong, post, b"Secret1", strong),
                (b"plain", weaker, post, b"Secret1", weaker),
                (b"plain", strong, change, b"NewPass", REWRITTEN.replace(b"{}", b"pw=NewPass")),
                (b"argon2id", plain, ("postleaf", leaf_posting(member=b"taro", password=b"secret1"),
                                      pages.error_page(pages.LEAF_WRONG_PW)), b"", plain)):
            with self.subTest(store=store, before=before, command=name):
                site = store_site(self, store, before)
                site.assert_page(page, site.post_multipart(*parts))
                record = site.read_member("taro")
                if b"{}" in after:
                    record = pages.hash_checked(record, password)
                    self.assertNotIn(password[:3], record)
                self.assertEqual(after, record)

    def test_change_profile_form_and_save_answer_as_on_the_plain_site(self):
        form = command("changeprof1", ("id", "taro"), ("pw", "Secret1"))
        save = command("changeprof2", ("id", "taro"), ("pw", "Secret1"), *FULL_PROFILE)
        plain_site = store_site(self, b"plain", HAND_RECORD)
        expected = [plain_site.post_form(*form), plain_site.post_form(*save)]
        for store in (b"plain", b"argon2id"):
            for maker, vector in VECTORS.items():
                with self.subTest(store=store, made_by=maker):
                    site = store_site(self, store, HAND_RECORD.replace(b"pw=Secret1", b"pwhash=" + vector))
                    self.assertEqual(expected, [site.post_form(*form), site.post_form(*save)])
                    self.assertIn(b"pwhash=" + vector + b"\r\n", site.read_member("taro"))


UNLOCKED = REWRITTEN.replace(b"{}", b"pw=Secret1")
LOCKED, SET = UNLOCKED + b"locked=1\r\n", ("--set-password", "site1", "taro")


class OperatorCommandTest(unittest.TestCase):
    def test_commands_rewrite_only_what_they_change(self):
        for store, record, args, stdin, code, err, after in (  # {} in after: a hash of New&amp;pw&nbsp;1
                (b"plain", HAND_RECORD, SET, b"New&pw 1\r\n", 0, b"", REWRITTEN.replace(b"{}", b"pw=New&amp;pw&nbsp;1")),
                (b"argon2id", HAND_RECORD, SET, b"New&pw 1", 0, b"", REWRITTEN),
                (b"plain", HAND_RECORD, SET, b"abcd\n", 1, b"orvanegate: the password must be five", HAND_RECORD),
                (b"plain", HAND_RECORD, SET[:2] + ("x",), b"Secret2\n", 1, b"orvanegate: no member x in session site1\n",
                 HAND_RECORD),
                (b"plain", HAND_RECORD, ("--lock", "site2", "taro"), b"", 1, b"orvanegate: unknown session site2\n",
                 HAND_RECORD),
                (b"plain", HAND_RECORD, ("--lock", "site1", "taro"), b"", 0, b"", LOCKED),
                (b"plain", LOCKED, ("--lock", "site1", "taro"), b"", 0, b"", LOCKED),
                (b"plain", LOCKED, ("--unlock", "site1", "taro"), b"", 0, b"", UNLOCKED),
                (b"plain", HAND_RECORD, ("--remove-leaf", "site1", ".leaf0"), b"", 1,
                 b"orvanegate: no leaf .leaf0 in session site1\n", HAND_RECORD),
                (b"plain", HAND_RECORD, ("--lock", "site1"), b"", 2, b"orvanegate: --lock takes SESSION ID\nUsage:",
                 HAND_RECORD)):
            with self.subTest(store=store, args=args, stdin=stdin):
                site = store_site(self, store, record)
                result = site.run({}, stdin, args=args)
                self.assertEqual((code, err, code == 0),
                                 (result.exit_code, result.stderr[:len(err)], bool(result.stdout)))
                stored = site.read_member("taro")
                self.assertEqual(after, pages.hash_checked(stored, b"New&amp;pw&nbsp;1") if b"{}" in after else stored)

    def test_a_locked_id_stays_taken_and_every_password_is_a_wrong_one(self):
        site = store_site(self, b"plain", LOCKED)
        for parts, page, counted in (
                (command("registration", *RegistrationTest.VALID.items()), pages.error_page(pages.ID_TAKEN), b""),
                (leaf_posting(member=b"taro", password=b"Secret1"), pages.error_page(pages.LEAF_WRONG_PW),
                 b"wrong password")):
            body = pages.multipart(*parts)
            result = site.run(site.post_env(body, content_type=pages.multipart_type()), body)
            site.assert_page(page, result.stdout)
            self.assertIn(counted, result.stderr)
        self.assertEqual(site.get("showuser=nobody&session=site1"), site.get("showuser=taro&session=site1"))


class GuessingTest(unittest.TestCase):
    """Wrong passwords counted per id and client address: five in a row refuse that address
    for the id until a minute after the last, without the password being checked."""
    GUESSER = "203.0.113.9"
    MEMBER = "2001:DB8::1"
    RECORD = b"id=taro\r\npw=Secret1\r\nrealname=Taro\r\n"
    ROW = [b"+taro/203.0.113.9.%d" % n for n in range(1, 6)]
    ACROSS = [b".wrong-203.0.113.9.%d" % n for n in range(1, 6)]
    # Five wrong from addresses of one network, then the network is refused and another
    # is let in: label, config.txt's ipv6prefix, the five, the refused, the let in.
    NETWORKS = (
        ("one /64 in any spelling", None,
         ("2001:db8:1:2::a", "2001:DB8:1:2:0:0:0:B", "2001:0db8:0001:0002:ffff::1",
          "2001:db8:1:2::d%eth0", "2001:db8:1:2:1:2:3:4"),
         "2001:db8:1:2:abcd::9", "2001:db8:1:3::1"),
        ("IPv4-mapped IPv6 is IPv4", None,
         ("::ffff:203.0.113.9", "203.0.113.9", "::FFFF:203.0.113.9", "0::ffff:cb00:7109",
          "203.0.113.9"), "::ffff:203.0.113.9", "203.0.113.10"),
        ("ipv6prefix 56", "56",
         ("2001:db8:1:2::1", "2001:db8:1:ff::1", "2001:db8:1:80::", "2001:db8:1::9",
          "2001:db8:1:1::1"), "2001:db8:1:3::1", "2001:db8:1:100::1"),
    )

    def send(self, site, address, name, pw):
        """(stdout, stderr) of one command for taro with the password, from the address."""
        if name == "postleaf":
            body = pages.multipart(*leaf_posting(member=b"taro", password=pw.encode()))
            env = site.post_env(body, content_type=pages.multipart_type())
        else:
            field = "pw0" if name == "changepw" else "pw"
            body = pages.urlencoded(*command(name, ("id", "taro"), (field, pw), ("pw1", "NewPass1"),
                                             ("pw2", "NewPass1"), ("realname", "New")))
            env = site.post_env(body)
        env["REMOTE_ADDR"] = address
        result = site.run(env, body)
        self.assertEqual(0, result.exit_code, result.stderr)
        return result.stdout, result.stderr

    def log_line(self, what, address, name):
        return b"orvanegate: %s: address %s id taro command %s\n" % (
            what.encode(), address.encode(), name.encode())

    def assert_wrong(self, site, address, name):
        wrong_page = {"changepw": pages.error_page(pages.PW_NOT_CHANGED), "changeprof1": b"",
                      "changeprof2": pages.error_page(pages.PROF_NOT_CHANGED),
                      "postleaf": pages.error_page(pages.LEAF_WRONG_PW)}[name]
        out, err = self.send(site, address, name, "Wrong99")
        site.assert_page(wrong_page, out)
        self.assertEqual(self.log_line("wrong password", address, name), err)

    def assert_refused(self, site, name, address=GUESSER):
        out, err = self.send(site, address, name, "Secret1")
        site.assert_error(pages.TOO_MANY_WRONG, out)
        self.assertEqual(self.log_line("too many wrong passwords", address, name), err)

    def assert_let_in(self, site, address):
        out, err = self.send(site, address, "changeprof1", "Secret1")
        self.assertTrue(out.startswith(reply(b"x")[:25]) and b"changeprof2" in out, out[:200])
        self.assertEqual(b"", err)

    def fifth_file(self, site):
        return os.path.join(os.fsencode(site.members), b".guesses", self.ROW[-1])

    def test_five_wrong_refuse_that_address_alone_until_a_minute_after_the_last(self):
        site = GateSite(self)
        site.write_member("taro", self.RECORD)
        for name in ("changepw", "changeprof1", "changeprof2", "postleaf", "changepw"):
            with self.subTest("wrong, " + name):
                self.assert_wrong(site, self.GUESSER, name)
        for name in ("changepw", "changeprof1", "changeprof2", "postleaf"):
            with self.subTest("refused, " + name):
                self.assert_refused(site, name)
        self.assertEqual(self.RECORD, site.read_member("taro"))
        self.assertEqual({}, site.leaf_files())
        self.assertEqual([b"taro.txt"], site.member_files())
        self.assertEqual(self.ROW + self.ACROSS, site.count_files())

        # The member at another address is not refused, and gets the right answer at once.
        self.assert_let_in(site, self.MEMBER)

        # A minute after the last failure the guesser's right password is checked again,
        # and it clears the count.
        with open(self.fifth_file(site), "rb") as f:
            last = int(f.read())
        self.assertLessEqual(abs(last - time.time()), 30)
        with open(self.fifth_file(site), "wb") as f:
            f.write(b"%d\r\n" % (last - 60))
        out, err = self.send(site, self.GUESSER, "changepw", "Secret1")
        site.assert_page(pages.registration_accepted_page(), out)
        self.assertEqual(b"", err)
        self.assertEqual(self.ACROSS, site.count_files())

    def test_a_right_password_clears_the_count_of_its_address(self):
        site = GateSite(self)
        site.write_member("taro", self.RECORD)
        for address in (self.GUESSER, self.MEMBER):
            for _ in range(4):
                self.assert_wrong(site, address, "changeprof1")
        out, err = self.send(site, self.GUESSER, "changeprof1", "Secret1")
        self.assertIn(b"changeprof2", out)
        self.assertEqual(b"", err)
        # Five more wrong ones before the guesser is refused, and the count of the other
        # address is still its own.
        for _ in range(5):
            self.assert_wrong(site, self.GUESSER, "changeprof2")
        self.assert_refused(site, "changeprof2")
        self.assert_wrong(site, self.MEMBER, "changeprof2")
        out, err = self.send(site, self.MEMBER, "changeprof2", "Secret1")
        site.assert_error(pages.TOO_MANY_WRONG, out)
        self.assertEqual(self.RECORD, site.read_member("taro"))

    def test_a_network_counts_as_one_address_of_any_spelling(self):
        for label, prefix, guessers, refused, member in self.NETWORKS:
            with self.subTest(label):
                site = GateSite(self)
                if prefix:
                    site.write_config(b"sessiondb=%s\r\nipv6prefix=%s\r\n"
                                      % (site.sessions.encode(), prefix.encode()))
                site.write_member("taro", self.RECORD)
                for address in guessers:
                    self.assert_wrong(site, address, "changeprof1")
                self.assert_refused(site, "changeprof1", refused)
                self.assert_let_in(site, member)

    def test_ended_rows_go_with_the_next_writer_and_an_id_keeps_64(self):
        site = GateSite(self)
        site.write_member("taro", self.RECORD)
        for n in range(66):
            self.assert_wrong(site, "10.0.0.%d" % n, "changeprof1")
        rows = [name for name in site.count_files() if name.startswith(b"+taro/")]
        self.assertEqual(sorted(b"+taro/10.0.0.%d.1" % n for n in range(2, 66)), rows)
        top = os.path.join(site.members, ".guesses")
        for d, _, names in os.walk(top):
            for name in names:
                with open(os.path.join(d, name), "wb") as f:
                    f.write(b"%d\r\n" % (time.time() - 60))
        self.assert_wrong(site, "10.0.0.200", "changeprof1")
        # The rows cut for the bound were not ended then: their rows across ids wait for
        # their networks' next try.
        self.assertEqual([b"+taro/10.0.0.200.1", b".wrong-10.0.0.0.1", b".wrong-10.0.0.1.1",
                          b".wrong-10.0.0.200.1"], site.count_files())


if __name__ == "__main__":
    unittest.main()

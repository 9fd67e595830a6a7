"""Characters that Shift_JIS cannot hold arrive as decimal character references, the way
browsers send them from a Shift_JIS form; they are stored so that pages show the
character itself, and the change-profile form gives them back unchanged."""

import html
import re
import unittest

import gate_pages as pages
from gate_site import GateSite

# (label, value as the browser sends it, value stored in the record)
CASES = (
    ("accented Latin letter", "Jos&#233;", b"Jos&#233;"),
    ("n with tilde and u with umlaut", "Espa&#241;a-M&#252;ller", b"Espa&#241;a-M&#252;ller"),
    ("emoji", "&#128512;", b"&#128512;"),
    ("Hangul", "&#54620;&#44397;", b"&#54620;&#44397;"),
    ("Chinese beside Japanese", "&#20204;漢字", b"&#20204;" + "漢字".encode("cp932")),
    ("reference at the start", "&#201;lodie", b"&#201;lodie"),
    ("reference at the end", "caf&#233;", b"caf&#233;"),
    ("ASCII reference typed as text", "&#60;b&#62;", b"&amp;#60;b&amp;#62;"),
    ("hexadecimal reference typed as text", "&#xE9;", b"&amp;#xE9;"),
    ("malformed reference", "&#233", b"&amp;#233"),
)

FORM_VALUE = re.compile(rb'name="(\w+)" size="\d+" Value="([^"]*)"')


def command(name, *pairs):
    return (("session", "site1"), ("command", name)) + tuple(pairs)


def browser_resubmission(form):
    """The change-profile form's fields as a browser posts them unchanged: each Value
    attribute decoded as HTML, then encoded in Shift_JIS with decimal references for
    the characters it cannot hold."""
    fields = []
    for name, value in FORM_VALUE.findall(form):
        text = html.unescape(value.decode("cp932"))
        fields.append((name.decode("ascii"), text.encode("cp932", "xmlcharrefreplace")))
    return fields


class CharacterReferenceTest(unittest.TestCase):
    def test_registration_stores_references_and_the_profile_page_shows_them(self):
        for multipart in (False, True):
            for label, sent, stored in CASES:
                with self.subTest(label, multipart=multipart):
                    site = GateSite(self)
                    fields = command("registration", ("id", "jose"), ("pw", "secret"),
                                     ("pw2", "secret"), ("realname", sent), ("mail", "j@x.jp"))
                    site.assert_page(pages.registration_accepted_page(),
                                     site.post_multipart(*fields) if multipart
                                     else site.post_form(*fields))
                    self.assertEqual(pages.registration_record("jose", "secret", stored, "", "j@x.jp"),
                                     site.read_member("jose"))
                    site.assert_page(pages.profile_page("jose", {"realname": stored}),
                                     site.get("showuser=jose&session=site1"))

    def test_change_profile_form_saved_unchanged_gives_the_record_back_byte_for_byte(self):
        site = GateSite(self)
        site.write_member("jose", pages.record(("id", "jose"), ("pw", "secret")))
        profile = [("realname", CASES[0][1]), ("country", CASES[1][1]), ("comment", CASES[2][1]),
                   ("mail", CASES[3][1]), ("urlname1", CASES[4][1]), ("urlname2", CASES[5][1]),
                   ("urlname3", CASES[6][1]), ("url1", CASES[7][1]), ("url2", CASES[8][1]),
                   ("url3", CASES[9][1])]
        site.post_multipart(*command("changeprof2", ("id", "jose"), ("pw", "secret"), *profile))
        saved = site.read_member("jose")
        for stored in (case[2] for case in CASES):
            self.assertIn(b"=" + stored + b"\r\n", saved)
        for round_trip in (1, 2):
            with self.subTest(round_trip=round_trip):
                form = site.post_form(*command("changeprof1", ("id", "jose"), ("pw", "secret")))
                fields = browser_resubmission(form)
                self.assertEqual(12, len(fields), form)
                site.post_multipart(*command("changeprof2", *fields))
                self.assertEqual(saved, site.read_member("jose"))

    def test_links_holding_references_follow_the_link_rule(self):
        site = GateSite(self)
        site.write_member("jose", pages.record(("id", "jose"), ("pw", "secret")))
        page = site.post_form(*command(
            "changeprof2", ("id", "jose"), ("pw", "secret"),
            ("url1", "http://a.example/caf&#233;"), ("url2", "javascript:alert('&#233;')"),
            ("url3", "&#233;javascript:alert(1)")))
        self.assertIn(b'<a href="http://a.example/caf&#233;"  target="_blank"> '
                      b"http://a.example/caf&#233;</a>", page)
        self.assertIn(b'<a href=""  target="_blank"> javascript:alert(\'&#233;\')</a>', page)
        # No scheme begins with a non-ASCII character: a relative link, harmless.
        self.assertIn(b'<a href="&#233;javascript:alert(1)"  target="_blank">', page)


if __name__ == "__main__":
    unittest.main()

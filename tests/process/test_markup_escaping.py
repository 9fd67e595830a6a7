"""No markup from a request reaches a page, a record or a reply: a lead byte hides
nothing after it, a multipart name holding "=" is no name, an image's file name is a
value like any other, and the status-500 page quotes its message escaped."""

import os
import re
import unittest

import cgi_harness
import gate_pages as pages
from gate_site import GateSite, leaf_site, log_line, split_reply

# Both lead-byte ranges and their ends.
LEADS = (b"\x81", b"\x9f", b"\xe0", b"\xfc")
MARKUP = ((b"<", b"&lt;"), (b">", b"&gt;"), (b'"', b"&quot;"), (b"&", b"&amp;"),
          (b" ", b"&nbsp;"))
# Tags that no page of the gate holds: finding one means request markup got through.
INJECTED = re.compile(rb"<\s*/?\s*(svg|script|img)", re.I)

PROFILE_FIELDS = ("realname", "country", "comment", "mail")


def command(name, *pairs):
    return (("session", "site1"), ("command", name)) + tuple(pairs)


def member_site(test):
    site = GateSite(test)
    site.write_member("taro", pages.record(("id", "taro"), ("pw", "secret")))
    return site


def send(site, fields, multipart):
    return site.post_multipart(*fields) if multipart else site.post_form(*fields)


class MarkupCase(unittest.TestCase):
    def assertNoInjectedMarkup(self, data, label):
        found = INJECTED.search(data)
        self.assertIsNone(found, "%s carries raw markup at byte %d"
                          % (label, found.start() if found else 0))

    def profile(self, site, member="taro"):
        return site.get("showuser=%s&session=site1" % member)


class LeadByteTest(MarkupCase):
    def test_markup_after_each_kind_of_lead_byte_is_stored_and_shown_escaped(self):
        site = member_site(self)
        for multipart in (False, True):
            for lead in LEADS:
                for raw, entity in MARKUP:
                    with self.subTest(multipart=multipart, lead=lead, markup=raw):
                        value = lead + raw + b"x"
                        stored = lead + entity + b"x"
                        site.assert_page(pages.profile_page("taro", {"realname": stored}), send(
                            site, command("changeprof2", ("id", "taro"), ("pw", "secret"),
                                          ("realname", value)), multipart))
                        self.assertEqual(pages.record(("id", "taro"), ("pw", "secret"),
                                                      ("realname", stored)),
                                         site.read_member("taro"))

    def test_svg_between_lead_bytes_reaches_no_page(self):
        payload = b"\x81<svg/onload=alert(1)//\x81>"
        stored = b"\x81&lt;svg/onload=alert(1)//\x81&gt;"
        for label, body, content_type in (
                ("url-encoded", b"session=site1&command=changeprof2&id=taro&pw=secret"
                                b"&realname=%81%3Csvg/onload=alert(1)//%81%3E", None),
                ("multipart", pages.multipart(*command(
                    "changeprof2", ("id", "taro"), ("pw", "secret"), ("realname", payload))),
                 pages.multipart_type())):
            with self.subTest(label):
                site = member_site(self)
                kwargs = {"content_type": content_type} if content_type else {}
                site.assert_page(pages.profile_page("taro", {"realname": stored}),
                                 site.post(body, **kwargs))
                self.assertNoInjectedMarkup(site.read_member("taro"), "record")
                self.assertNoInjectedMarkup(self.profile(site), "profile page")

    def test_quote_after_a_lead_byte_stays_inside_the_form_value(self):
        site = member_site(self)
        comment = b'x\xe0" autofocus onfocus=alert(2) y="\xe0'
        site.post_multipart(*command("changeprof2", ("id", "taro"), ("pw", "secret"),
                                     ("comment", comment)))
        form = site.post_form(*command("changeprof1", ("id", "taro"), ("pw", "secret")))
        value = form.partition(b'name="comment" size="100" Value="')[2].partition(b'"></td>')[0]
        self.assertEqual(b"x\xe0&quot; autofocus onfocus=alert(2) y=&quot;\xe0", value)

    def test_valid_shift_jis_text_keeps_every_byte(self):
        site = member_site(self)
        # Second bytes at both range ends, 0x5C and 0x7E included.
        name = "表示ソ能予―～ｱ漢字".encode("cp932") + b"\x81\x40\x9f\x7e\xe0\x80\xfc\xfc"
        for multipart in (False, True):
            with self.subTest(multipart=multipart):
                send(site, command("changeprof2", ("id", "taro"), ("pw", "secret"),
                                   ("realname", name)), multipart)
                self.assertEqual(pages.record(("id", "taro"), ("pw", "secret"), ("realname", name)),
                                 site.read_member("taro"))


class FieldNameTest(MarkupCase):
    NAME_TRICK = (b'realname=<script>alert(3)</script>', b"x")
    FILE_TRICK = (b"realname", b"<img src=x onerror=alert(4)>", b"image/png", b"\x89PNG")
    FILE_TRICK_STORED = b"&lt;img&nbsp;src=x&nbsp;onerror=alert(4)&gt;"

    def registration(self, *extra):
        return command("registration", ("id", "jiro"), ("pw", "secret"), ("pw2", "secret"),
                       ("mail", "j@x.jp"), *extra)

    def test_registration_ignores_a_name_with_equals_and_escapes_a_file_name(self):
        for label, extra, realname in (
                ("name holding =", (self.NAME_TRICK, ("realname", "Jiro")), b"Jiro"),
                ("image file name as a value", (self.FILE_TRICK,), self.FILE_TRICK_STORED)):
            with self.subTest(label):
                site = GateSite(self)
                site.assert_page(pages.registration_accepted_page(),
                                 site.post_multipart(*self.registration(*extra)))
                self.assertEqual(pages.registration_record("jiro", "secret", realname, "", "j@x.jp"),
                                 site.read_member("jiro"))
                self.assertNoInjectedMarkup(self.profile(site, "jiro"), "profile page")

    def test_change_profile_ignores_a_name_with_equals_and_escapes_a_file_name(self):
        for label, part, realname in (
                ("name holding =", self.NAME_TRICK, None),
                ("image file name as a value", self.FILE_TRICK, self.FILE_TRICK_STORED)):
            with self.subTest(label):
                site = member_site(self)
                fields = command("changeprof2", ("id", "taro"), ("pw", "secret"), part,
                                 ("country", "JP"))
                record = {"country": b"JP"}
                if realname is not None:
                    record["realname"] = realname
                site.assert_page(pages.profile_page("taro", record), site.post_multipart(*fields))
                self.assertNoInjectedMarkup(site.read_member("taro"), "record")
                self.assertNoInjectedMarkup(self.profile(site), "profile page")

    def test_leaf_record_ignores_a_name_with_equals_and_escapes_the_file_name(self):
        site = leaf_site(self, nameorder="num3d")
        upload = (b"<img src=x onerror=alert(4)>.png", b"image/png", pages.LEAF_IMAGE)
        site.assert_page(pages.file_accepted_page(), site.post_multipart(
            *pages.leaf_posting(upload=upload, extra=[self.NAME_TRICK])))
        self.assertEqual(
            {"001.png": pages.LEAF_IMAGE,
             "001.txt": pages.leaf_record(b"session=site1", b"id=m1",
                                          b"upfile=" + self.FILE_TRICK_STORED + b".png")},
            site.leaf_files())


class ErrorPageTest(MarkupCase):
    # A directory stands at the record's name: creating the record fails.
    MEMBER = "<svg onload=alert(6)>" + "A" * 30
    STORED = b"&lt;svg&nbsp;onload=alert(6)&gt;" + b"A" * 30

    def test_internal_error_page_quotes_request_data_escaped(self):
        fields = command("registration", ("id", self.MEMBER), ("pw", "secret"),
                         ("pw2", "secret"), ("realname", "R"), ("mail", "m"))
        for label, body, content_type in (
                ("url-encoded", pages.urlencoded(*fields), "application/x-www-form-urlencoded"),
                # A plain form of any site can send this body from a visitor's browser.
                ("multipart sent as text/plain", pages.multipart(*fields), "text/plain")):
            with self.subTest(label):
                site = GateSite(self)
                os.mkdir(site.member_path(self.STORED))
                stdout, stderr = site.post_logged(body, content_type=content_type)
                head, page = split_reply(stdout)
                self.assertTrue(head.startswith(b"Status: 500 "), head)
                self.assertNoInjectedMarkup(page, "error page")
                # The path in the message holds the escaped id, quoted escaped once more.
                self.assertIn(cgi_harness.native_separator().encode()
                              + b"&amp;lt;svg&amp;nbsp;onload=alert(6)&amp;gt;" + b"A" * 30, page)
                self.assertNotIn(b'"', page.partition(b"<p>")[2].partition(b"\r\n")[0])
                self.assertEqual(1, stderr.count(b"\n"), stderr)
                self.assertTrue(stderr.startswith(b"orvanegate: status 500: EFCreateError: "),
                                stderr)
                self.assertTrue(stderr.endswith(b" (request: POST /cgi/orvanegate.exe)\n"), stderr)
                self.assertEqual([os.path.basename(site.member_path(self.STORED))],
                                 site.member_files())

    def test_id_sent_under_a_name_holding_equals_never_reaches_a_path(self):
        site = GateSite(self)
        body = pages.multipart(*command("registration", ("id=" + self.MEMBER, "x"),
                                        ("pw", "secret"), ("pw2", "secret"), ("realname", "R"),
                                        ("mail", "m")))
        site.assert_error(pages.BLANK, site.post(body, content_type="text/plain"))
        self.assertEqual([], site.member_files())


if __name__ == "__main__":
    unittest.main()

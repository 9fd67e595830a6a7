"""Posting a leaf (command postleaf) through the built executable, as a web server runs it."""

import datetime
import os
import re
import socket
import unittest

import cgi_harness
import gate_pages as pages
from gate_pages import LEAF_IMAGE as IMAGE, leaf_posting as posting, leaf_record
from gate_site import leaf_site

STAMP = re.compile(rb"\d{8}-\d{6}-\d{3}")
ACCEPTED = pages.file_accepted_page()
# A title one byte too long for the leaf record of a default posting, which holds 73
# bytes besides the title's value.
OVER = b"t" * ((64 << 10) - 73 + 1)


class PostLeafCase(cgi_harness.CgiTestCase):
    def post(self, site, parts, page):
        site.assert_page(page, site.post_multipart(*parts))

    def assertLeaves(self, site, expected):
        found = site.leaf_files()
        self.assertEqual(sorted(found), sorted(expected))
        for name, data in expected.items():
            self.assertBytesEqual(data, found[name], name)


class Refusals(PostLeafCase):
    def test_each_refusal_answers_its_message_and_writes_nothing(self):
        site = leaf_site(self)
        # Records that an id leaving the member directory would otherwise reach.
        for name in ("a\\m1", "c:m1", "m\x01x"):
            site.write("members/%s.txt" % name, b"id=x\r\npw=secret\r\n")
        # Records without a pw line: none of them is opened by any password.
        site.write("members/nopw.txt", b"id=nopw\r\n")
        site.write("members/bom.txt", b"\xef\xbb\xbfpw=secret\r\nid=bom\r\n")
        site.write("leaves/fixed.jpg", b"taken")
        site.write("counter.txt", b"7")
        # A counter that exists but refuses every open: a local socket.
        refusing = socket.socket(socket.AF_UNIX)
        self.addCleanup(refusing.close)
        refusing.bind(site.path("counter.sock"))
        site.write("default.TXT", b"not an image")
        gif = (b"a.gif", b"image/gif", IMAGE)
        blank = [(b"Blank-Title", b"  \r\n ")]
        counter = {"FileNameTemplate": "leaf####"}  # its default counter file must not appear
        cases = [
            ("unknown member", posting(member=b"m2"), {}, pages.NO_MEMBER),
            ("id leaving the directory", posting(member=b"../members/m1"), {}, pages.NO_MEMBER),
            ("id with a backslash", posting(member=b"a\\m1"), {}, pages.NO_MEMBER),
            ("id with a colon", posting(member=b"c:m1"), {}, pages.NO_MEMBER),
            ("id with a control byte", posting(member=b"m\x01x"), {}, pages.NO_MEMBER),
            ("id too long for a file name", posting(member=b"x" * 300), {}, pages.NO_MEMBER),
            ("wrong password", posting(password=b"Secret"), counter, pages.LEAF_WRONG_PW),
            ("password before blanks", posting(password=b"", extra=blank), {}, pages.LEAF_WRONG_PW),
            ("no pw line, empty password", posting(member=b"nopw", password=b""), {},
             pages.LEAF_WRONG_PW),
            ("byte-order mark before pw=", posting(member=b"bom"), {}, pages.LEAF_WRONG_PW),
            ("blank before attachment", posting(upload=None, extra=blank), {}, pages.BLANK),
            ("no file part", posting(upload=None), {}, pages.NO_ATTACHMENT),
            ("image type not accepted", posting(upload=gif), {}, pages.NO_ATTACHMENT),
            ("empty file", posting(upload=(b"a.jpg", b"image/jpeg", b"")), {}, pages.NO_ATTACHMENT),
            ("no file name", posting(upload=(b"", b"image/png", IMAGE)), {}, pages.NO_ATTACHMENT),
            ("leaf record one byte over the bound", posting(extra=[(b"title", OVER)]), counter,
             pages.ENTRY_TOO_LONG),
            ("escaped quotes over the bound", posting(extra=[(b"title", b'"' * 10911)]), counter,
             pages.ENTRY_TOO_LONG),
            ("text upload", posting(upload=(b"notes.TXT", b"image/png", IMAGE)), counter,
             pages.UNSTORABLE),
            ("text default image", posting(upload=None),
             {"DefaultImgFile": site.path("default.TXT")}, pages.UNSTORABLE),
            ("every name taken", posting(),
             {"FileNameTemplate": "fixed", "FileNameCounter": site.path("counter.txt")},
             pages.NO_FILE_NAME),
            ("counter refuses its open", posting(),
             {"FileNameTemplate": "leaf#", "FileNameCounter": site.path("counter.sock")},
             pages.COUNTER_UNUSABLE),
        ]
        for label, parts, settings, message in cases:
            with self.subTest(label):
                site.set_settings(**settings)
                self.post(site, parts, pages.error_page(message))
                self.assertLeaves(site, {"fixed.jpg": b"taken"})
        self.assertEqual(site.read("counter.txt"), b"7")


class Naming(PostLeafCase):
    def test_counter_with_default_file_in_the_leaf_directory(self):
        site = leaf_site(self, FileNameTemplate="leaf####")
        self.post(site, posting(), ACCEPTED)
        self.assertLeaves(site, {"counter.txt": b"1", "leaf0001.jpg": IMAGE,
                                 "leaf0001.txt": leaf_record(b"session=site1", b"id=m1",
                                                        b"upfile=photo.jpg")})

    def test_counter_skips_a_taken_name_and_stores_the_number_drawn(self):
        # A relative counter path resolves against the working directory, the site.
        site = leaf_site(self, FileNameTemplate="leaf####", FileNameCounter="own/c.txt",
                             nameorder="num3d")
        site.write("own/c.txt", b"41\r\n")
        site.write("leaves/leaf0042.txt", b"")
        self.post(site, posting(), ACCEPTED)
        self.assertEqual(sorted(site.leaf_files()), ["leaf0042.txt", "leaf0043.jpg",
                                                     "leaf0043.txt"])
        self.assertEqual(site.read("own/c.txt"), b"43")

    def test_num3d_takes_the_first_number_neither_of_whose_files_exists(self):
        site = leaf_site(self, nameorder="num3d")
        site.write("leaves/001.jpg", b"")
        site.write("leaves/002.txt", b"")
        self.post(site, posting(), ACCEPTED)
        self.assertEqual(sorted(site.leaf_files()), ["001.jpg", "002.txt", "003.jpg", "003.txt"])

    def test_time_stamp_names_the_leaf_without_template_or_num3d(self):
        site = leaf_site(self, nameorder="NUM3D")
        self.post(site, posting(), ACCEPTED)
        names = sorted(site.leaf_files())
        self.assertEqual(len(names), 2, names)
        base = names[0][:-4].encode()
        self.assertRegex(base, b"^" + STAMP.pattern + b"$")
        self.assertEqual(names, [base.decode() + ".jpg", base.decode() + ".txt"])
        stamp = datetime.datetime.strptime(base.decode(), "%Y%m%d-%H%M%S-%f")
        self.assertLess(abs(stamp - datetime.datetime.now()), datetime.timedelta(days=1))


class StoredBytes(PostLeafCase):
    def test_leaf_record_at_the_bound_is_stored_whole(self):
        site = leaf_site(self, nameorder="num3d")
        self.post(site, posting(extra=[(b"title", OVER[1:])]), ACCEPTED)
        record = site.leaf_files()["001.txt"]
        self.assertEqual(64 << 10, len(record))
        self.assertBytesEqual(leaf_record(b"session=site1", b"id=m1", b"upfile=photo.jpg",
                                          b"title=" + OVER[1:]), record, "record")

    def test_image_and_record_bytes_are_stored_exactly(self):
        site = leaf_site(self, nameorder="num3d")
        form = [(b"title", b"a b <c>&\"d\" \r\n\t"), (b"pw", b"again"), (b"Note", b"x\r\ny"),
                (b"command", b"other"), (b"PW", b"again"), (b"blank-Who", b" \x82\xa0")]
        stored = (b"title=a&nbsp;b&nbsp;&lt;c&gt;&amp;&quot;d&quot;", b"Note=x<br>y",
                  b"blank-Who=&nbsp;\x82\xa0")
        images = [b"\x00", b"a\r\nb&c\x00\xff", b"ends in CR\r", b"ends in CR LF\r\n",
                  b"\r\n--" + pages.BOUNDARY[:-1] + b"\r\n"]
        for number, data in enumerate(images, start=1):
            with self.subTest(data=data):
                self.post(site, posting(upload=(b"p.png", b"image/png", data), extra=form),
                          ACCEPTED)
                found = site.leaf_files()
                self.assertBytesEqual(data, found["%03d.png" % number], "image")
                self.assertBytesEqual(
                    leaf_record(b"session=site1", b"id=m1", b"upfile=p.png", *stored),
                    found["%03d.txt" % number], "record")

    def test_upload_names_give_the_stored_extension_and_the_record_line(self):
        site = leaf_site(self, nameorder="num3d")
        cases = [  # name sent, extension stored (None: refused), name in the record
            (b"README", None, None),
            (b"arc.tar.GZ", None, None),
            (b"trail.", None, None),
            (b"Photo.JPG", b".jpg", b"Photo.JPG"),
            ("写真.JPEG".encode("cp932"), b".jpeg", "写真.JPEG".encode("cp932")),
            ("C:\\写真\\ソ.PnG".encode("cp932"), b".png", "ソ.PnG".encode("cp932")),
            ("a.ソ".encode("cp932"), None, None),
            (b"C:\\dir.x\\img", None, None),
            (b"dir.x/img.Gif", b".gif", b"img.Gif"),
            (b"x.jpg:stream", None, None),
        ]
        number = 0
        for sent, ext, shown in cases:
            with self.subTest(sent=sent):
                if ext is None:
                    before = site.leaf_files()
                    self.post(site, posting(upload=(sent, b"image/pjpeg", IMAGE)),
                              pages.error_page(pages.UNSTORABLE))
                    self.assertEqual(before, site.leaf_files())
                    continue
                number += 1
                self.post(site, posting(upload=(sent, b"image/pjpeg", IMAGE)), ACCEPTED)
                found = site.leaf_files()
                base = b"%03d" % number
                image_name = os.fsdecode(cgi_harness.host_name(base + ext))
                self.assertBytesEqual(IMAGE, found[image_name], "image")
                self.assertBytesEqual(leaf_record(b"session=site1", b"id=m1", b"upfile=" + shown),
                                      found[os.fsdecode(base + b".txt")], "record")
        self.assertEqual(len(site.leaf_files()), 2 * number)

    def test_default_image_stands_in_for_a_missing_upload(self):
        site = leaf_site(self, nameorder="num3d")
        site.write("images/default.PNG", b"default\x00\r\n")
        site.set_settings(nameorder="num3d", DefaultImgFile=site.path("images/default.PNG"))
        gif = (b"a.gif", b"image/gif", IMAGE)
        self.post(site, posting(upload=None), ACCEPTED)
        self.post(site, posting(upload=gif), ACCEPTED)
        self.post(site, posting(), ACCEPTED)
        plain = leaf_record(b"session=site1", b"id=m1")
        self.assertLeaves(site, {"001.png": b"default\x00\r\n", "001.txt": plain,
                                 "002.png": b"default\x00\r\n", "002.txt": plain,
                                 "003.jpg": IMAGE,
                                 "003.txt": leaf_record(b"session=site1", b"id=m1",
                                                   b"upfile=photo.jpg")})


if __name__ == "__main__":
    unittest.main()

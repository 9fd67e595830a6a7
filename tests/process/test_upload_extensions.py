"""A posted file is published under its extension in the leaves directory, so only image
extensions are stored; the operator's default image keeps its own."""

import os
import unittest

import gate_pages as pages
from gate_pages import LEAF_IMAGE as IMAGE, leaf_posting as posting
from gate_site import leaf_site

REFUSED = (
    ("page", b"x.html"),
    ("page, short", b"x.HTM"),
    ("script", b"x.php"),
    ("script, CGI", b"x.cgi"),
    ("server-side include", b"x.shtml"),
    ("scriptable image", b"x.svg"),
    ("server configuration file", b".htaccess"),
    ("no extension", b"README"),
    ("trailing dot", b"x."),
    ("double extension ending in a script", b"x.png.php"),
    ("image name before a separator", b"x.png:x"),
    ("image extension with a trailing space", b"x.png "),
    ("image extension after a double-byte character", "x.ｐｎｇ".encode("cp932")),
)

ACCEPTED = (
    (b"a.PnG", ".png"),
    (b"b.JpG", ".jpg"),
    (b"c.jPEg", ".jpeg"),
    (b"d.JPE", ".jpe"),
    (b"e.JfIf", ".jfif"),
    (b"f.gIF", ".gif"),
    (b"g.Bmp", ".bmp"),
    (b"h.WebP", ".webp"),
    (b"x.php.png", ".png"),
)


class UploadExtensionTest(unittest.TestCase):
    def test_only_image_extensions_are_stored(self):
        site = leaf_site(self, FileNameTemplate="leaf####")
        counter = os.path.join(site.leaves, "counter.txt")
        for label, name in REFUSED:
            with self.subTest(label, name=name):
                site.assert_error(pages.UNSTORABLE,
                                  site.post_multipart(*posting(upload=(name, b"image/png", IMAGE))))
                self.assertEqual({}, site.leaf_files(), "nothing stored, no counter created")
        for number, (name, extension) in enumerate(ACCEPTED, start=1):
            with self.subTest(name=name):
                site.assert_page(pages.file_accepted_page(),
                                 site.post_multipart(*posting(upload=(name, b"image/jpeg", IMAGE))))
                base = "leaf%04d" % number
                found = site.leaf_files()
                self.assertEqual(IMAGE, found[base + extension])
                self.assertEqual(pages.leaf_record(b"session=site1", b"id=m1", b"upfile=" + name),
                                 found[base + ".txt"])
        with open(counter, "rb") as f:
            self.assertEqual(b"%d" % len(ACCEPTED), f.read())

    def test_refused_upload_leaves_an_existing_counter_untouched(self):
        site = leaf_site(self, FileNameTemplate="leaf####")
        site.write("leaves/counter.txt", b"41")
        site.assert_error(pages.UNSTORABLE,
                          site.post_multipart(*posting(upload=(b"x.svg", b"image/png", IMAGE))))
        self.assertEqual({"counter.txt": b"41"}, site.leaf_files())

    def test_default_image_keeps_any_extension_but_text(self):
        for name, page, stored in (("banner.svg", pages.file_accepted_page(), "001.svg"),
                                   ("banner", pages.file_accepted_page(), "001"),
                                   ("banner.Txt", pages.error_page(pages.UNSTORABLE), None)):
            with self.subTest(name):
                site = leaf_site(self, nameorder="num3d")
                site.write("images/" + name, b"<svg/>")
                site.set_settings(nameorder="num3d", DefaultImgFile=site.path("images/" + name))
                site.assert_page(page, site.post_multipart(*posting(upload=None)))
                expected = {} if stored is None else {
                    stored: b"<svg/>", "001.txt": pages.leaf_record(b"session=site1", b"id=m1")}
                self.assertEqual(expected, site.leaf_files())


if __name__ == "__main__":
    unittest.main()

"""A site behind a reverse proxy: nginx passes every request on to the shipped lighttpd
site, whose real-address block is turned on or left as shipped. A guesser and the member
reach the proxy from addresses of their own; the guesser also sends a forged
X-Forwarded-For of its own with every try."""

import http.client
import os
import unittest

import gate_pages as pages
import served_site
from test_hostile import ATTACKER, GUESSES_ALLOWED, TOO_MANY_GUESSES

MEMBER = "127.0.0.3"
REAL_ADDRESS_BLOCK = "# Behind a reverse proxy"


def turn_on_real_address_block(conf):
    """Uncomments the block's settings (lines of "#" without a space) as an operator would."""
    with open(conf) as f:
        lines = f.read().split("\n")
    start = next(i for i, line in enumerate(lines) if line.lstrip().startswith(REAL_ADDRESS_BLOCK))
    for i in range(start, lines.index("", start)):
        text = lines[i].lstrip()
        if text.startswith("#") and not text.startswith("# "):
            lines[i] = lines[i][:len(lines[i]) - len(text)] + text[1:]
    with open(conf, "w") as f:
        f.write("\n".join(lines))


class LighttpdBehindProxy(served_site.Lighttpd):
    name = "lighttpd-behind-proxy"
    programs = ("lighttpd", "nginx")
    real_address = True

    def main_conf(self):
        conf = self.path("conf", "lighttpd.conf")
        if self.real_address:
            turn_on_real_address_block(conf)
        self.proxy_port = served_site.free_port()
        proxy_conf = self.path("conf", "nginx-proxy.conf")
        user = self.user_values()
        served_site.fill(os.path.join(served_site.CONF, "nginx-proxy.conf"), proxy_conf, {
            "RUN": self.run, "PORT": str(self.port), "PROXY_PORT": str(self.proxy_port),
            "USER_LINE": "user %s %s;" % (user["USER"], user["GROUP"]) if user else ""})
        self.spawn([served_site.program("nginx"), "-p", self.path("run"),
                    "-e", self.path("logs", "proxy-error.log"), "-c", proxy_conf])
        return conf


class LighttpdBlockOff(LighttpdBehindProxy):
    name = "lighttpd-behind-proxy-off"
    real_address = False


class BehindProxyTest(unittest.TestCase):
    def post(self, site, source, *pairs):
        conn = http.client.HTTPConnection("127.0.0.1", site.proxy_port, timeout=60,
                                          source_address=(source, 0))
        try:
            conn.request("POST", "/cgi/orvanegate.exe", pages.urlencoded(*pairs), {
                "Content-Type": "application/x-www-form-urlencoded",
                "X-Forwarded-For": "198.51.100.%d" % len(site.error_log())})
            return conn.getresponse().read()
        finally:
            conn.close()

    def test_guesser_behind_the_proxy_is_refused_and_the_member_gets_in(self):
        tries = GUESSES_ALLOWED + 3
        # (site, the member gets in, the address the log names)
        for kind, member_gets_in, logged in ((LighttpdBehindProxy, True, ATTACKER),
                                             (LighttpdBlockOff, False, "127.0.0.1")):
            with self.subTest(kind.name):
                problem = kind.unavailable()
                if problem:
                    self.skipTest(problem)
                site = kind()
                try:
                    site.start()
                    answers = self.guess(site, tries)
                    self.assertEqual(tries - GUESSES_ALLOWED,
                                     answers.count(pages.error_page(TOO_MANY_GUESSES)))
                    form = self.post(site, MEMBER, ("session", "demo"),
                                     ("command", "changeprof1"), ("id", "proxied"),
                                     ("pw", "secret1"))
                    self.assertEqual(member_gets_in,
                                     b'name="command" value="changeprof2"' in form)
                    self.assertIn(b"too many wrong passwords: address %s " % logged.encode(),
                                  site.error_log())
                finally:
                    site.remove()

    def guess(self, site, tries):
        self.assertIn(b"ACCEPTED", self.post(
            site, MEMBER, ("session", "demo"), ("command", "registration"), ("id", "proxied"),
            ("pw", "secret1"), ("pw2", "secret1"), ("realname", "R"), ("mail", "m@x.jp")))
        return [self.post(site, ATTACKER, ("session", "demo"), ("command", "changepw"),
                          ("id", "proxied"), ("pw0", "guess%d" % n), ("pw1", "secret9"),
                          ("pw2", "secret9")) for n in range(tries)]


if __name__ == "__main__":
    unittest.main()

"""The lighttpd site behind nginx as a reverse proxy, its real-address block on or off."""

import http.client
import os
import re
import unittest

import gate_pages as pages
import served_site
from test_hostile import ATTACKER, GUESSES_ALLOWED, TOO_MANY_GUESSES

BLOCK = "# Behind a reverse proxy"


class LighttpdBehindProxy(served_site.Lighttpd):
    name = "behind-proxy"
    programs = ("lighttpd", "nginx")

    def main_conf(self):
        conf = self.path("conf", "lighttpd.conf")
        with open(conf) as f:
            head, _, rest = f.read().partition(BLOCK)
        block, _, tail = rest.partition("\n\n")
        if self.real_address:  # its settings are the lines of "#" and no space
            block = re.sub(r"(?m)^(\s*)#(?! )", r"\1", block)
        with open(conf, "w") as f:
            f.write(head + BLOCK + block + "\n\n" + tail)
        self.proxy_port = served_site.free_port()
        proxy_conf, user = self.path("conf", "nginx-proxy.conf"), self.user_values()
        served_site.fill(os.path.join(served_site.CONF, "nginx-proxy.conf"), proxy_conf, {
            "RUN": self.run, "PORT": str(self.port), "PROXY_PORT": str(self.proxy_port),
            "USER_LINE": "user %s %s;" % (user["USER"], user["GROUP"]) if user else ""})
        self.spawn([served_site.program("nginx"), "-p", self.path("run"),
                    "-e", self.path("logs", "proxy-error.log"), "-c", proxy_conf])
        return conf

    def wait_ready(self):
        problem, site_port = super().wait_ready(), self.port
        self.port = self.proxy_port  # and through the proxy
        problem = problem or super().wait_ready()
        self.port = site_port
        return problem


class BehindProxyTest(unittest.TestCase):
    def post(self, site, source, command, *pairs):
        conn = http.client.HTTPConnection("127.0.0.1", site.proxy_port, timeout=60,
                                          source_address=(source, 0))
        conn.request("POST", "/cgi/orvanegate.exe", pages.urlencoded(
            ("session", "demo"), ("command", command), ("id", "proxied"), *pairs), {
                "Content-Type": "application/x-www-form-urlencoded",
                "X-Forwarded-For": "198.51.100.%d" % len(site.error_log())})  # forged
        try:
            return conn.getresponse().read()
        finally:
            conn.close()

    def test_guesser_behind_the_proxy_is_refused_and_the_member_gets_in(self):
        if LighttpdBehindProxy.unavailable():
            self.skipTest(LighttpdBehindProxy.unavailable())
        # (block on, the member at 127.0.0.3 gets in, the address logged)
        for on, member_gets_in, logged in ((True, True, ATTACKER), (False, False, "127.0.0.1")):
            with self.subTest(real_address=on):
                site = type("Site", (LighttpdBehindProxy,), {"real_address": on})()
                try:
                    site.start()
                    self.assertIn(b"ACCEPTED", self.post(
                        site, "127.0.0.3", "registration", ("pw", "secret1"),
                        ("pw2", "secret1"), ("realname", "R"), ("mail", "m@x.jp")))
                    answers = [self.post(site, ATTACKER, "changepw", ("pw0", "guess%d" % n),
                                         ("pw1", "secret9"), ("pw2", "secret9"))
                               for n in range(GUESSES_ALLOWED + 3)]
                    self.assertEqual(3, answers.count(pages.error_page(TOO_MANY_GUESSES)))
                    form = self.post(site, "127.0.0.3", "changeprof1", ("pw", "secret1"))
                    self.assertEqual(member_gets_in,
                                     b'name="command" value="changeprof2"' in form)
                    self.assertIn(b"too many wrong passwords: address %s " % logged.encode(),
                                  site.error_log())
                finally:
                    site.remove()


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""System calls and processor time of one request answered by a persistent process: the
gate in its FastCGI mode and php-fpm (one child) running peers/gate_equivalent.php, each
sent the same registrations and 20 KiB postings over FastCGI on a site in /dev/shm.

A process is traced (strace -f -c) over 1 and over 1 + N requests; the difference over N
is one request's share, without the process's start. Processor time is the process's
utime + stime (children included) over N requests, untraced, less the 1-request run.
  python3 syscall_count.py GATE_EXECUTABLE [-n N] [--members M]
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import bench_site
import grown_site

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "process"))
import fastcgi_client  # noqa: E402

PHP_SCRIPT = os.path.join(HERE, "peers", "gate_equivalent.php")
PHP_CONF = """[global]
pid = {run}/php-fpm.pid
error_log = {run}/php-fpm.log
daemonize = no
[bench]
listen = {sock}
pm = static
pm.max_children = 1
clear_env = no
php_admin_value[upload_tmp_dir] = {run}/php-uploads
"""


def params(body, content_type, script):
    return {"GATEWAY_INTERFACE": "CGI/1.1", "REQUEST_METHOD": "POST", "SCRIPT_NAME": script,
            "SCRIPT_FILENAME": script, "PATH_INFO": "", "QUERY_STRING": "",
            "CONTENT_TYPE": content_type, "CONTENT_LENGTH": str(len(body)),
            "SERVER_PROTOCOL": "HTTP/1.1", "REMOTE_ADDR": "127.0.0.1"}


def registration(count):
    return ("session=stamp&command=registration&id=sc%d&pw=pw12345&pw2=pw12345&realname=b"
            "&mail=a%%40example.com&country=Japan" % count).encode()


class Peer:
    """One persistent process answering FastCGI on a socket, optionally traced."""

    def __init__(self, kind, site, run):
        self.kind, self.site, self.run = kind, site, run
        self.sock = os.path.join(run, kind + ".sock")

    def argv(self, requests):
        if self.kind == "gate":
            return [self.site.exe, "--fastcgi", self.sock, "--max-requests", str(requests)]
        conf = os.path.join(self.run, "php-fpm.conf")
        with open(conf, "w") as f:
            f.write(PHP_CONF.format(run=self.run, sock=self.sock))
        php_fpm = shutil.which("php-fpm") or os.path.join("/usr/sbin", sorted(
            p for p in os.listdir("/usr/sbin") if p.startswith("php-fpm"))[-1])
        return [php_fpm, "-F", "-R", "-y", conf]

    def script(self):
        return self.site.exe if self.kind == "gate" else PHP_SCRIPT

    def serve(self, requests, work, trace=None):
        """Answers the requests; gives the strace summary lines or the processor seconds."""
        if os.path.exists(self.sock):
            os.unlink(self.sock)
        prefix = ["strace", "-f", "-c", "-o", trace] if trace else []
        env = dict(os.environ, GATE_CONFIG=os.path.join(self.site.cgi, "config.txt"))
        child = subprocess.Popen(prefix + self.argv(requests), cwd=self.site.cgi, env=env,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL, start_new_session=True)
        deadline = time.monotonic() + 20
        while not os.path.exists(self.sock):
            if time.monotonic() > deadline:
                raise RuntimeError("no socket " + self.sock)
            time.sleep(0.02)
        for number in range(requests):
            body, content_type = work(number)
            reply = fastcgi_client.request(self.sock, params(body, content_type, self.script()),
                                           body)
            if b"ACCEPTED" not in reply.stdout.upper():
                raise RuntimeError("%s refused: %r" % (self.kind, reply.stdout[:300]))
        if self.kind == "php":
            # The master, not the tracer: strace writes its summary once php-fpm is gone.
            with open(os.path.join(self.run, "php-fpm.pid")) as f:
                os.kill(int(f.read()), signal.SIGQUIT)
        try:
            _, _, usage = os.wait4(child.pid, 0)
        except BaseException:
            os.killpg(child.pid, signal.SIGKILL)
            raise
        return usage.ru_utime + usage.ru_stime


def summary(path):
    """{syscall: calls} from strace -c output, with "total"."""
    calls = {}
    with open(path) as f:
        for line in f:
            fields = line.split()
            if len(fields) >= 5 and fields[0][0].isdigit():
                name = fields[-1]
                calls[name] = int(fields[3])
    return calls


def per_request(peer, work, n, run):
    one, many = os.path.join(run, "one.txt"), os.path.join(run, "many.txt")
    peer.serve(1, work, one)
    peer.serve(1 + n, work, many)
    a, b = summary(one), summary(many)
    calls = {k: (b.get(k, 0) - a.get(k, 0)) / n for k in set(a) | set(b)}
    cpu = (peer.serve(1 + n, work) - peer.serve(1, work)) / n * 1000.0
    return calls, cpu


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("-n", type=int, default=200)
    parser.add_argument("--members", type=int, default=0,
                        help="members and leaves laid out before (grown_site.py)")
    args = parser.parse_args()
    run = tempfile.mkdtemp(prefix="orvanegate-syscalls-", dir="/dev/shm")
    try:
        os.makedirs(os.path.join(run, "php-uploads"))
        site = bench_site.BenchSite(os.path.join(run, "site"), os.path.abspath(args.exe))
        if args.members:
            grown_site.grow(site, args.members, args.members)
        posting = open(site.posting_body("post20k.txt", "counter", 20 * 1024), "rb").read()
        counter = [0]

        def register(_):
            counter[0] += 1
            return registration(counter[0]), "application/x-www-form-urlencoded"

        works = {"registration": register,
                 "20 KiB posting": lambda _: (posting, bench_site.content_type())}
        rows = []
        for work_name, work in works.items():
            for kind in ("gate", "php"):
                calls, cpu = per_request(Peer(kind, site, run), work, args.n, run)
                top = sorted(((v, k) for k, v in calls.items() if k != "total" and v >= 0.5),
                             reverse=True)
                rows.append("| %s | %s | %.1f | %.3f | %s |" % (
                    work_name, "FastCGI gate" if kind == "gate" else "php-fpm",
                    calls.get("total", 0), cpu,
                    ", ".join("%s %.0f" % (k, v) for v, k in top)))
        print("| work | server | system calls / request | ms processor / request | calls |")
        print("|---|---|---|---|---|")
        print("\n".join(rows))
    finally:
        shutil.rmtree(run, ignore_errors=True)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Server-level benchmark: the gate's requests through one nginx (2 workers) with wrk,
beside a static file, a persistent C floor, php-fpm, and the gate both via fcgiwrap (a
process per request) and in its persistent FastCGI mode.

Every case runs at 1, 8 and 32 connections; the cases are interleaved round by round and
the table gives medians of requests per second, of the processor time per request
spent by nginx and the case's backend processes (utime+stime of their process trees,
exited children included) and of their minor page faults per request. With --grown N the
same cases run on a site laid out with N members and N leaves before the rounds
(grown_site.py). Run through bench/run.sh --servers, or:
  python3 server_bench.py GATE_EXECUTABLE [--rounds N] [--seconds S] [--grown N] [--argon2id]

--argon2id instead measures the commands that check a password on a site with
passwordstore=argon2id, whose member holds an Argon2id hash of the gate's parameters: a
20 KiB posting and a changepw, the gate's FastCGI mode against php-fpm (password_verify and
password_hash with the same parameters) at 8 connections.
"""

import argparse
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

import bench_site
import grown_site

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PROCESS_SCRIPT = os.path.join(ROOT, "site", "orvanegate-fastcgi.sh")
PHP_SCRIPT = os.path.join(HERE, "peers", "gate_equivalent.php")
FLOOR_SOURCE = os.path.join(HERE, "floors", "fastcgi_floor.c")
CONNECTIONS = (1, 8, 32)
PROCESSES = 4
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
GATE_PARAMS = """
        fastcgi_param SCRIPT_NAME /cgi/orvanegate.exe;
        fastcgi_param PATH_INFO "";
        fastcgi_param REQUEST_METHOD $request_method;
        fastcgi_param QUERY_STRING $query_string;
        fastcgi_param CONTENT_TYPE $content_type;
        fastcgi_param CONTENT_LENGTH $content_length;
        fastcgi_param SERVER_PROTOCOL $server_protocol;
        fastcgi_param REMOTE_ADDR $remote_addr;
        fastcgi_param GATEWAY_INTERFACE CGI/1.1;"""
NGINX_CONF = """daemon off;
worker_processes 2;
pid {run}/nginx.pid;
error_log {run}/nginx-error.log warn;
{user}
events {{ worker_connections 256; }}
http {{
    access_log off;
    client_body_temp_path {run}/body;
    fastcgi_temp_path {run}/fastcgi;
    client_max_body_size 64m;
    client_body_buffer_size 64k;
    server {{
        listen 127.0.0.1:{port};
        root {run}/htdocs;
        location = /static.html {{ }}
        location = /floor {{ fastcgi_pass unix:{run}/floor.sock; {params} }}
        location = /wrap {{ fastcgi_pass unix:{run}/fcgiwrap.sock;
            fastcgi_param SCRIPT_FILENAME {exe}; {params} }}
        location = /fastcgi {{ fastcgi_pass unix:{run}/gate.sock; {params} }}
        location = /php {{ fastcgi_pass unix:{run}/php.sock;
            fastcgi_param SCRIPT_FILENAME {php}; fastcgi_param GATE_CONFIG {config}; {params} }}
    }}
}}
"""
PHP_CONF = """[global]
pid = {run}/php-fpm.pid
error_log = {run}/php-fpm.log
daemonize = no
[bench]
listen = {run}/php.sock
pm = static
pm.max_children = {processes}
pm.max_requests = 500
clear_env = no
php_admin_value[upload_tmp_dir] = {run}/php-uploads
"""
# wrk scripts: a fixed body, or a registration of a fresh id per request.
POST_LUA = """wrk.method = "POST"
wrk.headers["Content-Type"] = "{content_type}"
local f = io.open("{body}", "rb"); wrk.body = f:read("*a"); f:close()
"""
# A changepw of one of the members pw0..pw255 per request, chosen at random: members
# change their own passwords, seldom two at once.
CHANGEPW_LUA = """function request()
  local body = "session=bench&command=changepw&id=pw" .. math.random(0, {last}) ..
    "&pw0={pw}&pw1={pw}&pw2={pw}"
  return wrk.format("POST", nil, {{["Content-Type"] = "application/x-www-form-urlencoded"}}, body)
end
"""
PASSWORD_MEMBERS = 256
# Each run gets a script of its own, whose ids no earlier run registered: a taken id is
# answered with an error page, which costs far less than a registration.
REGISTER_LUA = """local count = 0
local prefix = ""
local threads = 0
function setup(thread) threads = threads + 1; thread:set("prefix", "{run}t" .. threads) end
function init() prefix = wrk.thread:get("prefix") end
function request()
  count = count + 1
  local body = "session=stamp&command=registration&id=r" .. prefix .. "x" .. count ..
    "&pw=pw12345&pw2=pw12345&realname=bench&mail=a%40example.com&country=Japan"
  return wrk.format("POST", nil, {{["Content-Type"] = "application/x-www-form-urlencoded"}}, body)
end
"""


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def tree_usage(roots):
    """utime+stime+cutime+cstime, and the minor page faults (own and exited children's), of
    the processes below and including the roots."""
    parents, usage = {}, {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        parents[int(pid)] = int(fields[1])
        usage[int(pid)] = (sum(int(v) for v in fields[11:15]), int(fields[7]) + int(fields[8]))
    ticks = faults = 0
    for pid, (pid_ticks, pid_faults) in usage.items():
        seen, walk = set(), pid
        while walk and walk not in roots and walk not in seen:
            seen.add(walk)
            walk = parents.get(walk, 0)
        if walk in roots:
            ticks += pid_ticks
            faults += pid_faults
    return ticks, faults


class Bench:
    def __init__(self, exe, run):
        self.run = run
        self.children = {}
        self.site = bench_site.BenchSite(os.path.join(run, "site"), exe)
        os.makedirs(os.path.join(run, "htdocs"))
        os.makedirs(os.path.join(run, "php-uploads"))
        with open(os.path.join(run, "htdocs", "static.html"), "wb") as f:
            f.write(b"<html><body>" + b"x" * 1700 + b"</body></html>\r\n")
        self.port = free_port()

    def path(self, name):
        return os.path.join(self.run, name)

    def spawn(self, name, argv, env=None):
        log = open(self.path(name + ".out"), "ab")
        self.children[name] = subprocess.Popen(
            argv, stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True,
            cwd=self.site.cgi, env=dict(os.environ, **(env or {})))

    def wait_for(self, path):
        deadline = time.monotonic() + 20
        while not os.path.exists(path):
            if time.monotonic() > deadline:
                raise RuntimeError("no socket " + path)
            time.sleep(0.05)

    def start(self):
        floor = self.path("fastcgi_floor")
        subprocess.run(["cc", "-O2", "-o", floor, FLOOR_SOURCE, "-l:libfcgi.a"], check=True)
        self.spawn("floor", ["sh", PROCESS_SCRIPT, self.path("floor.sock"), floor, "1"])
        self.spawn("fastcgi", ["sh", PROCESS_SCRIPT, self.path("gate.sock"), self.site.exe,
                               str(PROCESSES)])
        self.spawn("fcgiwrap", ["fcgiwrap", "-c", str(PROCESSES), "-s",
                                "unix:" + self.path("fcgiwrap.sock")])
        with open(self.path("php-fpm.conf"), "w") as f:
            f.write(PHP_CONF.format(run=self.run, processes=PROCESSES))
        php_fpm = shutil.which("php-fpm") or sorted(
            p for p in os.listdir("/usr/sbin") if p.startswith("php-fpm"))[-1]
        self.spawn("php", [os.path.join("/usr/sbin", php_fpm), "-F", "-R", "-y",
                           self.path("php-fpm.conf")])
        with open(self.path("nginx.conf"), "w") as f:
            f.write(NGINX_CONF.format(
                run=self.run, port=self.port, params=GATE_PARAMS, exe=self.site.exe,
                php=PHP_SCRIPT, config=os.path.join(self.site.cgi, "config.txt"),
                user="user root;" if os.geteuid() == 0 else ""))
        for name in ("floor.sock", "gate.sock", "fcgiwrap.sock", "php.sock"):
            self.wait_for(self.path(name))
        self.spawn("nginx", ["nginx", "-p", self.run, "-e", self.path("nginx-error.log"),
                             "-c", self.path("nginx.conf")])
        time.sleep(1)

    def stop(self):
        for child in self.children.values():
            try:
                os.killpg(child.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        for child in self.children.values():
            try:
                child.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(child.pid, signal.SIGKILL)
                child.wait()

    def scripts(self):
        posting = self.site.posting_body("post20k.txt", "counter", 20 * 1024)
        lua = {}
        for name, text in (
                ("posting", POST_LUA.format(content_type=bench_site.content_type(), body=posting)),
                ("registration", "")):
            lua[name] = self.path(name + ".lua")
            with open(lua[name], "w") as f:
                f.write(text)
        return lua

    def store_hashes(self):
        """passwordstore=argon2id; the member's password, and that of the members who change
        theirs, as a hash of the gate's kind."""
        try:
            import argon2
        except ImportError:  # an interpreter other than Debian's, which holds python3-argon2
            sys.path.append("/usr/lib/python3/dist-packages")
            import argon2
        hasher = argon2.PasswordHasher(time_cost=2, memory_cost=19456, parallelism=1)
        with open(os.path.join(self.site.cgi, "config.txt"), "ab") as f:
            f.write(b"passwordstore=argon2id\r\n")
        path = os.path.join(self.site.members, bench_site.MEMBER + ".txt")
        with open(path, "rb") as f:
            record = f.read()
        hashed = b"pwhash=" + hasher.hash(bench_site.PASSWORD).encode()
        record = record.replace(b"pw=" + bench_site.PASSWORD.encode(), hashed)
        with open(path, "wb") as f:
            f.write(record)
        for number in range(PASSWORD_MEMBERS):
            member = "pw%d" % number
            with open(os.path.join(self.site.members, member + ".txt"), "wb") as f:
                f.write(record.replace(b"id=" + bench_site.MEMBER.encode(), b"id=" + member.encode()))

    def password_cases(self):
        """The commands that check a password, against php-fpm only."""
        self.store_hashes()
        lua = self.scripts()
        lua["changepw"] = self.path("changepw.lua")
        with open(lua["changepw"], "w") as f:
            f.write(CHANGEPW_LUA.format(last=PASSWORD_MEMBERS - 1, pw=bench_site.PASSWORD))
        return [(work, variant, path, lua[script])
                for work, script in (("argon2id 20 KiB posting", "posting"),
                                     ("argon2id changepw", "changepw"))
                for variant, path in (("gate via FastCGI", "/fastcgi"), ("php-fpm", "/php"))]

    def cases(self):
        """(work, variant, path, lua script or None)."""
        lua = self.scripts()
        query = "?showuser=%s&session=bench" % bench_site.MEMBER
        out = [("profile query", "nginx static file", "/static.html", None)]
        for work, suffix, script in (("profile query", query, None),
                                     ("registration", "", lua["registration"]),
                                     ("20 KiB posting", "", lua["posting"])):
            out += [(work, "nginx + C floor", "/floor" + suffix, script),
                    (work, "gate via fcgiwrap", "/wrap" + suffix, script),
                    (work, "gate via FastCGI", "/fastcgi" + suffix, script),
                    (work, "php-fpm", "/php" + suffix, script)]
        return out

    def roots(self, variant):
        backend = {"nginx + C floor": "floor", "gate via fcgiwrap": "fcgiwrap",
                   "gate via FastCGI": "fastcgi", "php-fpm": "php"}.get(variant)
        names = ["nginx"] + ([backend] if backend else [])
        return {self.children[n].pid for n in names}

    def measure(self, variant, path, script, connections, seconds):
        roots = self.roots(variant)
        if script and script.endswith("registration.lua"):
            self.runs = getattr(self, "runs", 0) + 1
            with open(script, "w") as f:
                f.write(REGISTER_LUA.format(run="b%d" % self.runs))
        argv = ["wrk", "-t", str(min(connections, 2)), "-c", str(connections),
                "-d", "%ds" % seconds, "http://127.0.0.1:%d%s" % (self.port, path)]
        if script:
            argv[1:1] = ["-s", script]
        before = tree_usage(roots)
        out = subprocess.run(argv, capture_output=True, text=True, check=True).stdout
        after = tree_usage(roots)
        used, faults = after[0] - before[0], after[1] - before[1]
        rate = float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1))
        requests = int(re.search(r"(\d+) requests in", out).group(1))
        errors = re.search(r"Non-2xx or 3xx responses: (\d+)", out)
        if errors:
            print("note: %s %s: %s answers not 2xx" % (variant, path, errors.group(1)),
                  file=sys.stderr)
        return rate, used * 1000.0 / CLOCK_TICKS / max(requests, 1), faults / max(requests, 1)


def table(results):
    lines = ["| work | server | conns | req/s | ms processor / request | page faults / request |",
             "|---|---|---|---|---|---|"]
    for (work, variant, conns), values in results.items():
        rate, cpu, faults = (statistics.median(column) for column in zip(*values))
        lines.append("| %s | %s | %d | %.0f | %.3f | %.0f |" % (work, variant, conns, rate, cpu,
                                                               faults))
    return "\n".join(lines)


def ratios(results):
    """The targets: the gate's FastCGI mode against php-fpm at 8 and 32 connections."""
    lines = []
    for work in ("profile query", "registration", "20 KiB posting", "argon2id 20 KiB posting",
                 "argon2id changepw"):
        for conns in (8, 32):
            gate = results.get((work, "gate via FastCGI", conns))
            php = results.get((work, "php-fpm", conns))
            if not gate or not php:
                continue
            rate = statistics.median(v[0] for v in gate) / statistics.median(v[0] for v in php)
            cpu = statistics.median(v[1] for v in php) / statistics.median(v[1] for v in gate)
            lines.append("- %s, %d connections: FastCGI gate %.2fx php-fpm's requests/s; php-fpm "
                         "spends %.2fx the gate's processor time per request"
                         % (work, conns, rate, cpu))
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--seconds", type=int, default=3)
    parser.add_argument("--argon2id", action="store_true")
    parser.add_argument("--grown", type=int, default=0,
                        help="members and leaves laid out before the rounds")
    parser.add_argument("--only", default="",
                        help="only the works whose name holds this text, gate via FastCGI "
                             "against php-fpm (e.g. --only posting)")
    args = parser.parse_args()
    for tool in ("nginx", "wrk", "fcgiwrap", "spawn-fcgi", "cc"):
        if not shutil.which(tool, path=os.environ.get("PATH", "") + ":/usr/sbin"):
            sys.exit("server bench: %s is missing" % tool)
    run = tempfile.mkdtemp(prefix="orvanegate-serverbench-", dir="/dev/shm")
    os.chmod(run, 0o755)
    bench = Bench(os.path.abspath(args.exe), run)
    results = {}
    try:
        if args.grown:
            started = time.monotonic()
            grown_site.grow(bench.site, args.grown, args.grown)
            print("grown site: %d members and %d leaves laid out in %.0f s"
                  % (args.grown, args.grown, time.monotonic() - started), file=sys.stderr)
        bench.start()
        cases = bench.password_cases() if args.argon2id else bench.cases()
        if args.only:
            cases = [case for case in cases if args.only in case[0]
                     and case[1] in ("gate via FastCGI", "php-fpm")]
        for round_number in range(args.rounds):
            for connections in (8,) if args.argon2id else CONNECTIONS:
                for work, variant, path, script in cases:
                    value = bench.measure(variant, path, script, connections, args.seconds)
                    results.setdefault((work, variant, connections), []).append(value)
            print("round %d of %d done" % (round_number + 1, args.rounds), file=sys.stderr)
    finally:
        bench.stop()
        shutil.rmtree(run, ignore_errors=True)
    if args.grown:
        print("Grown site: %d members and %d leaves before the rounds\n" % (args.grown, args.grown))
    print(table(results))
    print()
    print(ratios(results))


if __name__ == "__main__":
    main()

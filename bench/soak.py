#!/usr/bin/env python3
"""Soak: mixed load through nginx (2 workers) on the gate's FastCGI mode (4 processes
under site/orvanegate-fastcgi.sh) for some minutes, on a site in /dev/shm (or the
directory --scratch names, on disk) that grows as
the requests register members and store leaves. Run on demand, not in CI.

Each connection sends, in turn, profile queries, registrations of fresh ids, password
changes and profile saves of its own members, and 20 KiB postings. Every minute it prints
the requests answered, the answers that were no 2xx status or an error page of the gate
(<h3>ERROR), socket errors, the resident memory and open files of the gate processes and
of nginx, and the members and leaves on disk. The throughput of the last minute should
stay within 10% of the second's, with no error and memory and open files flat.
  python3 soak.py GATE_EXECUTABLE [--minutes 15] [--connections 8] [--grown N] [--scratch DIR]
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import bench_site
import grown_site
import server_bench

MEMBERS = 64  # members whose passwords and profiles the load changes
PASSWORD = "pw12345"
# One wrk script: the kind of each request goes round; every connection's ids are its own.
MIX_LUA = """math.randomseed(os.time())  -- each minute's wrk registers ids of its own
local posting = nil
local count = 0
local prefix = ""
errors = 0  -- global: done() reads it from each thread
local kinds = {{"query", "query", "query", "registration", "changepw", "query", "profile",
  "posting", "query", "registration"}}
local threads = {{}}
function setup(thread)
  thread:set("prefix", tostring(math.random(100000, 999999)))
  table.insert(threads, thread)
end
function init()
  prefix = wrk.thread:get("prefix")
  local f = io.open("{posting}", "rb"); posting = f:read("*a"); f:close()
end
local form = {{["Content-Type"] = "application/x-www-form-urlencoded"}}
function request()
  count = count + 1
  local kind = kinds[count % #kinds + 1]
  local member = "s" .. (count % {members})
  if kind == "query" then
    return wrk.format("GET", "/fastcgi?showuser=" .. member .. "&session=stamp")
  elseif kind == "registration" then
    return wrk.format("POST", "/fastcgi", form, "session=stamp&command=registration&id=r" ..
      prefix .. "x" .. count .. "&pw={pw}&pw2={pw}&realname=soak&mail=a%40example.com&country=Japan")
  elseif kind == "changepw" then
    return wrk.format("POST", "/fastcgi", form, "session=stamp&command=changepw&id=" .. member ..
      "&pw0={pw}&pw1={pw}&pw2={pw}")
  elseif kind == "profile" then
    return wrk.format("POST", "/fastcgi", form, "session=stamp&command=changeprof2&id=" ..
      member .. "&pw={pw}&realname=soak" .. count .. "&mail=b%40example.com&comment=c&country=Japan")
  end
  return wrk.format("POST", "/fastcgi", {{["Content-Type"] = "{content_type}"}}, posting)
end
function response(status, headers, body)
  if string.find(body, "<h3>ERROR", 1, true) then errors = errors + 1 end
end
function done(summary, latency, requests)
  local total = 0
  for _, thread in ipairs(threads) do total = total + (thread:get("errors") or 0) end
  io.write(string.format("GATE ERROR PAGES %d\\n", total))
end
"""


def process_tree(root):
    """The pids of root and every process below it."""
    parents = {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/stat" % pid) as f:
                parents[int(pid)] = int(f.read().rsplit(")", 1)[1].split()[1])
        except OSError:
            continue
    tree = {root}
    grew = True
    while grew:
        grew = False
        for pid, parent in parents.items():
            if parent in tree and pid not in tree:
                tree.add(pid)
                grew = True
    return tree


def resources(root, name):
    """Resident KiB and open files of the processes named so below root."""
    rss = files = 0
    for pid in process_tree(root):
        try:
            with open("/proc/%d/comm" % pid) as f:
                if not f.read().strip().startswith(name):
                    continue
            with open("/proc/%d/status" % pid) as f:
                rss += int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))
            files += len(os.listdir("/proc/%d/fd" % pid))
        except (OSError, AttributeError):
            continue
    return rss, files


class Soak(server_bench.Bench):
    def start(self):
        """The gate's FastCGI processes and nginx only."""
        self.spawn("fastcgi", ["sh", server_bench.PROCESS_SCRIPT, self.path("gate.sock"),
                               self.site.exe, str(server_bench.PROCESSES)])
        with open(self.path("nginx.conf"), "w") as f:
            f.write(server_bench.NGINX_CONF.format(
                run=self.run, port=self.port, params=server_bench.GATE_PARAMS,
                exe=self.site.exe, php="/nonexistent", config="/nonexistent",
                user="user root;" if os.geteuid() == 0 else ""))
        self.wait_for(self.path("gate.sock"))
        self.spawn("nginx", ["nginx", "-p", self.run, "-e", self.path("nginx-error.log"),
                             "-c", self.path("nginx.conf")])
        time.sleep(1)

    def members(self):
        for number in range(MEMBERS):
            grown_site.write(os.path.join(self.site.members, "s%d.txt" % number),
                             ("id=s%d\r\npw=%s\r\nrealname=soak\r\n" % (number, PASSWORD))
                             .encode())

    def script(self):
        posting = self.site.posting_body("post20k.txt", "counter", 20 * 1024)
        path = self.path("mix.lua")
        with open(path, "w") as f:
            f.write(MIX_LUA.format(posting=posting, members=MEMBERS, pw=PASSWORD,
                                   content_type=bench_site.content_type()))
        return path

    def minute(self, script, connections, seconds):
        argv = ["wrk", "-t", str(min(connections, 2)), "-c", str(connections),
                "-d", "%ds" % seconds, "http://127.0.0.1:%d/" % self.port, "-s", script]
        done = subprocess.run(argv, capture_output=True, text=True)
        if done.returncode != 0:
            raise RuntimeError("wrk failed: " + done.stderr + done.stdout)
        out = done.stdout
        number = lambda pattern: int(m.group(1)) if (m := re.search(pattern, out)) else 0
        sockets = re.search(r"Socket errors: connect (\d+), read (\d+), write (\d+), "
                            r"timeout (\d+)", out)
        return {"requests": number(r"(\d+) requests in"),
                "non2xx": number(r"Non-2xx or 3xx responses: (\d+)"),
                "error pages": number(r"GATE ERROR PAGES (\d+)"),
                "socket errors": sum(int(v) for v in sockets.groups()) if sockets else 0}


def count_files(directory, suffix):
    with os.scandir(directory) as entries:
        return sum(1 for e in entries if e.name.endswith(suffix) and not e.name.startswith("."))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--minutes", type=int, default=15)
    parser.add_argument("--seconds", type=int, default=60, help="length of one 'minute'")
    parser.add_argument("--connections", type=int, default=8)
    parser.add_argument("--grown", type=int, default=0,
                        help="members and leaves laid out before the load")
    parser.add_argument("--scratch", default="/dev/shm",
                        help="where the site is made: memory-backed by default, where the "
                             "stored images of a long run take gigabytes of memory")
    args = parser.parse_args()
    for tool in ("nginx", "wrk", "spawn-fcgi"):
        if not shutil.which(tool, path=os.environ.get("PATH", "") + ":/usr/sbin"):
            sys.exit("soak: %s is missing" % tool)
    run = tempfile.mkdtemp(prefix="orvanegate-soak-", dir=args.scratch)
    os.chmod(run, 0o755)
    soak = Soak(os.path.abspath(args.exe), run)
    print("| minute | requests | req/s | not 2xx | error pages | socket errors | gate RSS KiB "
          "| gate open files | nginx RSS KiB | members | leaves |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    try:
        if args.grown:
            grown_site.grow(soak.site, args.grown, args.grown)
        soak.members()
        script = soak.script()
        soak.start()
        gate, nginx = soak.children["fastcgi"].pid, soak.children["nginx"].pid
        for minute in range(1, args.minutes + 1):
            got = soak.minute(script, args.connections, args.seconds)
            gate_rss, gate_files = resources(gate, "orvanegate")
            nginx_rss, _ = resources(nginx, "nginx")
            print("| %d | %d | %.0f | %d | %d | %d | %d | %d | %d | %d | %d |" % (
                minute, got["requests"], got["requests"] / args.seconds, got["non2xx"],
                got["error pages"], got["socket errors"], gate_rss, gate_files, nginx_rss,
                count_files(soak.site.members, ".txt"),
                count_files(soak.site.leaves("counter"), ".jpg")), flush=True)
    finally:
        soak.stop()
        shutil.rmtree(run, ignore_errors=True)


if __name__ == "__main__":
    main()

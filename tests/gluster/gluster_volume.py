"""A replicated GlusterFS volume on this machine, mounted twice, for the two-server tests.

``GlusterVolume(root)`` runs its own glusterd, creates a volume of two directory bricks
under ``root`` on a host name of its own (added to /etc/hosts for the time being), starts
it and mounts it twice with FUSE, at ``root/mount1`` and ``root/mount2``: two clients
with caches of their own, as two web servers would have. ``close()`` undoes every step
that was done, in reverse order, ending each process it started by its process id, and
leaves /etc/hosts, /var/lib/glusterd and /var/log/glusterfs as they were.

``missing_prerequisite()`` names what keeps this machine from running it, or is None.
"""

import os
import re
import shutil
import socket
import subprocess
import time
import xml.etree.ElementTree as ElementTree

HOST_NAME = "orvanegate-gluster-node"
HOST_ADDRESS = "127.0.0.1"
HOSTS_FILE = "/etc/hosts"
HOSTS_MARK = "# added by the orvanegate gluster tests, removed when they end"
STATE_DIR = "/var/lib/glusterd"
LOG_DIR = "/var/log/glusterfs"  # brick and mount logs land here, named after their paths
GLUSTERD_PORT = 24007
COMMAND_TIMEOUT = 120  # seconds; the machine may be busy with builds
START_TIMEOUT = 60


def missing_prerequisite():
    """Why the volume cannot be run here, or None when it can."""
    if os.geteuid() != 0:
        return "GlusterFS needs root (glusterd, bricks with trusted xattrs, FUSE mounts)"
    for tool in ("glusterd", "gluster", "mount.glusterfs"):
        if shutil.which(tool) is None and not os.path.exists("/usr/sbin/" + tool) \
                and not os.path.exists("/sbin/" + tool):
            return "%s is not installed (glusterfs-server, glusterfs-client)" % tool
    if not os.path.exists("/dev/fuse"):
        return "/dev/fuse is missing: no FUSE on this machine"
    if port_in_use(GLUSTERD_PORT):
        return "port %d is taken: a glusterd not started by these tests is running" % GLUSTERD_PORT
    return None


def port_in_use(port):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.settimeout(1)
        return probe.connect_ex(("127.0.0.1", port)) == 0


def snapshot(top):
    """Every path under top (top itself excluded)."""
    found = set()
    for parent, dirs, files in os.walk(top):
        found.update(os.path.join(parent, name) for name in dirs + files)
    return found


def restore(top, before):
    """Removes what was made under top since the snapshot before (all of top when None)."""
    if before is None:
        shutil.rmtree(top, ignore_errors=True)
        return
    # Deepest first, so a new directory is empty when it is removed.
    for path in sorted(snapshot(top) - before, key=len, reverse=True):
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path, ignore_errors=True)
        elif os.path.lexists(path):
            os.unlink(path)


def process_ids_with(text):
    """Ids of the running processes whose command line contains text."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as handle:
                command_line = handle.read().replace(b"\0", b" ").decode(errors="replace")
        except OSError:
            continue
        if text in command_line:
            found.append(int(entry))
    return found


def end_process(pid, grace=10.0):
    """Terminates one process by id and waits up to grace seconds before killing it."""
    try:
        os.kill(pid, 15)
    except ProcessLookupError:
        return
    deadline = time.monotonic() + grace
    while time.monotonic() < deadline:
        if not os.path.exists("/proc/%d" % pid) or process_state(pid) == "Z":
            return
        time.sleep(0.1)
    try:
        os.kill(pid, 9)
    except ProcessLookupError:
        pass


def process_state(pid):
    try:
        with open("/proc/%d/stat" % pid) as handle:
            return handle.read().rsplit(")", 1)[1].split()[0]
    except (OSError, IndexError):
        return "Z"


class GlusterVolume:
    def __init__(self, root, name="orvanegate", options=None, mount_options=None):
        self.root = root
        self.name = name
        self.options = options or {}
        self.mount_options = mount_options
        self.bricks = [os.path.join(root, "brick1"), os.path.join(root, "brick2")]
        self.mounts = [os.path.join(root, "mount1"), os.path.join(root, "mount2")]
        self.log_dir = os.path.join(root, "logs")
        self._undo = []
        self._glusterd = None
        self._pids = set()

    # --- set up ----------------------------------------------------------------
    def open(self):
        """Builds the whole setup; on any failure undoes what was done and raises."""
        try:
            os.makedirs(self.log_dir, exist_ok=True)
            self._remember_state()
            self._add_host_name()
            self._start_glusterd()
            self._create_volume()
            for mount in self.mounts:
                self._mount(mount)
        except BaseException:
            self.close()
            raise
        return self

    def _remember_state(self):
        for top in (STATE_DIR, LOG_DIR):
            before = snapshot(top) if os.path.isdir(top) else None
            self._undo.append(lambda top=top, before=before: restore(top, before))

    def _add_host_name(self):
        with open(HOSTS_FILE, "a") as hosts:
            hosts.write("%s %s %s\n" % (HOST_ADDRESS, HOST_NAME, HOSTS_MARK))
        self._undo.append(self._remove_host_name)

    def _start_glusterd(self):
        log = os.path.join(self.log_dir, "glusterd.log")
        self._glusterd = subprocess.Popen(["glusterd", "-N", "--log-file=" + log],
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self._undo.append(self._stop_glusterd)
        deadline = time.monotonic() + START_TIMEOUT
        while self.gluster("volume", "list", check=False).returncode != 0:
            if self._glusterd.poll() is not None:
                raise RuntimeError("glusterd ended at start; see " + log)
            if time.monotonic() > deadline:
                raise RuntimeError("glusterd did not answer within %d s" % START_TIMEOUT)
            time.sleep(0.5)

    def _create_volume(self):
        for brick in self.bricks:
            os.makedirs(brick)
        self.gluster("volume", "create", self.name, "replica", "2",
                     *["%s:%s" % (HOST_NAME, brick) for brick in self.bricks], "force")
        self._undo.append(lambda: self.gluster("volume", "delete", self.name, check=False))
        for key, value in self.options.items():
            self.gluster("volume", "set", self.name, key, value)
        self.gluster("volume", "start", self.name)
        self._undo.append(self._stop_volume)
        self._pids.update(self._volume_pids())

    def _mount(self, mount):
        os.makedirs(mount)
        self._undo.append(lambda: self._unmount(mount))
        command = ["mount", "-t", "glusterfs"]
        if self.mount_options:
            command += ["-o", self.mount_options]
        command += ["%s:/%s" % (HOST_NAME, self.name), mount]
        run(command)
        self._pids.update(process_ids_with(mount))
        if not os.path.ismount(mount):
            raise RuntimeError("%s is not mounted" % mount)

    # --- tear down -------------------------------------------------------------
    def close(self):
        """Undoes every step done so far; errors are collected and raised at the end."""
        errors = []
        while self._undo:
            step = self._undo.pop()
            try:
                step()
            except Exception as error:  # keep undoing the rest
                errors.append(repr(error))
        if errors:
            raise RuntimeError("tear-down of the gluster volume: " + "; ".join(errors))

    def _unmount(self, mount):
        pids = process_ids_with(mount)
        if os.path.ismount(mount):
            if run(["umount", mount], check=False).returncode != 0:
                run(["umount", "-l", mount], check=False)
        for pid in pids:
            end_process(pid)

    def _stop_volume(self):
        self.gluster("volume", "stop", self.name, check=False)
        for pid in sorted(self._pids | set(self._volume_pids())):
            end_process(pid)

    def _stop_glusterd(self):
        self._pids.update(self._volume_pids())
        if self._glusterd.poll() is None:
            end_process(self._glusterd.pid)
        self._glusterd.wait(timeout=30)
        # Brick and self-heal processes outlive a glusterd that ends without stopping them.
        for pid in sorted(self._pids):
            end_process(pid)

    def _remove_host_name(self):
        with open(HOSTS_FILE) as hosts:
            kept = [line for line in hosts if HOSTS_MARK not in line]
        with open(HOSTS_FILE, "w") as hosts:  # rewritten in place: the file may be a mount
            hosts.writelines(kept)

    # --- helpers ---------------------------------------------------------------
    def gluster(self, *args, check=True):
        return run(["gluster", "--mode=script", *args], check=check)

    def _volume_pids(self):
        """Process ids of the volume's bricks and self-heal daemon, from glusterd."""
        done = self.gluster("volume", "status", self.name, "--xml", check=False)
        if done.returncode != 0:
            return []
        try:
            tree = ElementTree.fromstring(done.stdout)
        except ElementTree.ParseError:
            return []
        pids = []
        for node in tree.iter("node"):
            text = node.findtext("pid") or ""
            if re.fullmatch(r"\d+", text) and int(text) > 0:
                pids.append(int(text))
        return pids

    def settings(self):
        """The volume's effective options as {key: value}."""
        out = self.gluster("volume", "get", self.name, "all").stdout
        pairs = (line.split(None, 1) for line in out.splitlines()[2:] if line.strip())
        return {pair[0]: pair[1].strip() for pair in pairs if len(pair) == 2}


def run(command, check=True):
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=COMMAND_TIMEOUT, text=True)
    if check and done.returncode != 0:
        raise RuntimeError("%s failed (%d): %s %s"
                           % (" ".join(command), done.returncode, done.stdout, done.stderr))
    return done

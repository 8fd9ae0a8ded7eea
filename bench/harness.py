#!/usr/bin/env python3
"""Upload and download benchmark: libNimbra against curl and the ali-oss client.

Started by bench/run.sh (which may put it in a private network namespace).
Starts nimbra-devserver on the library's compiled-in ports and measures, for
each file size and repeat, one upload and one download per contender:

  nimbra   nimbra-bench-host through libNimbra (multipart 10 MiB / 1 MiB ranges)
  curl     one PUT and one GET of the whole object (anonymous): the ceiling
  ali-oss  the store's Node.js client, multipart 10 MiB parts, parallel 1

Every download is made twice per contender and repeat: into a tmpfs (the
protocol path alone: no disk, no writeback) and to disk (the cache directory,
as a user's download lands), so the ratio to curl is the library's and not
the page cache's.

Then, with a round-trip delay on the loopback, the library's ranged download
against curl fetching the same 1 MiB ranges over one kept-alive connection
and over a new connection per range, and the library's multipart upload
against curl's single PUT.

Environment (all optional):
  BENCH_SIZES       file sizes in MiB, comma or space separated (64,256,1024)
  BENCH_REPEAT      runs per contender and size (3)
  BENCH_BUILD       build directory with the binaries (build/)
  BENCH_PUBLISH     1: write the results to bench/results/ (the tracked copy)
  BENCH_OUT         results directory (default BENCH_BUILD/bench-results/, or
                    bench/results/ with BENCH_PUBLISH=1)
  BENCH_DELAY_MS    one-way delay of the latency part, 0 skips it (10)
  BENCH_DELAY_SIZE  file size of the latency part in MiB (64)
  BENCH_WAIT_LOAD   wait for the 1-minute load average to drop below this
  BENCH_WAIT_MAX    longest wait for that, seconds (1800)
  BENCH_ONLY        comma-separated contenders to run (all)
  BENCH_TMPFS       directory on a tmpfs for the tmpfs downloads (default
                    /dev/shm, or a tmpfs mounted under the cache when root);
                    "none" measures downloads to disk only
"""
import json
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import threading
import time
import urllib.error
import urllib.request
from pathlib import Path

sys.dont_write_bytecode = True  # nothing to clean up in the source tree
sys.path.insert(0, str(Path(__file__).resolve().parent))
import report  # noqa: E402

MiB = 1 << 20
GiB = 1 << 30
BENCH_DIR = Path(__file__).resolve().parent
ROOT = BENCH_DIR.parent
CONTENDERS = ["nimbra", "curl", "ali-oss"]
DESTINATIONS = ["tmpfs", "disk"]  # where downloads are written
CHILD_TIMEOUT = 1200  # seconds; a stuck transfer is killed and fails the run
NPM_TIMEOUT = 600  # seconds; npm that cannot reach its registry may retry for long


def log(msg):
    print(f"[bench {time.strftime('%H:%M:%S')}] {msg}", flush=True)


class BenchError(Exception):
    pass


# ---------------------------------------------------------------- settings


def parse_sizes(text):
    sizes = [int(s) for s in re.split(r"[,\s]+", text.strip()) if s]
    if not sizes or any(s <= 0 for s in sizes):
        raise BenchError(f"BENCH_SIZES must list positive sizes in MiB, got {text!r}")
    return sizes


class Settings:
    def __init__(self, env):
        self.sizes = parse_sizes(env.get("BENCH_SIZES", "64,256,1024"))
        self.repeat = int(env.get("BENCH_REPEAT", "3"))
        if self.repeat < 1:
            raise BenchError("BENCH_REPEAT must be at least 1")
        self.build = Path(env.get("BENCH_BUILD", str(ROOT / "build"))).resolve()
        # The tracked results change only when a run is meant to publish.
        self.publish = env.get("BENCH_PUBLISH", "0") not in ("", "0")
        default_out = BENCH_DIR / "results" if self.publish else self.build / "bench-results"
        self.out = Path(env.get("BENCH_OUT", str(default_out))).resolve()
        self.cache = BENCH_DIR / "cache"
        self.delay_ms = float(env.get("BENCH_DELAY_MS", "10"))
        self.delay_size = int(env.get("BENCH_DELAY_SIZE", "64"))
        self.wait_load = float(env["BENCH_WAIT_LOAD"]) if env.get("BENCH_WAIT_LOAD") else None
        self.wait_max = float(env.get("BENCH_WAIT_MAX", "1800"))
        only = env.get("BENCH_ONLY", "")
        self.contenders = [c for c in CONTENDERS if not only or c in only.split(",")]
        self.netns = env.get("BENCH_IN_NETNS", "")
        self.tmpfs = env.get("BENCH_TMPFS", "")
        self.devserver = self.build / "tools/devserver/nimbra-devserver"
        self.host = self.build / "bench/nimbra-bench-host"
        self.compiled = read_compiled_config(self.build)


def read_compiled_config(build):
    """The web API URL, store endpoint and bucket compiled into the library."""
    header = build / "generated/Nimbra/NimbraConfig.h"
    if not header.exists():
        raise BenchError(f"{header} is missing: build the tree first (make bench does)")
    values = dict(re.findall(r'#define (NIMBRA_\w+) "([^"]*)"', header.read_text()))
    api = re.fullmatch(r"https?://127\.0\.0\.1:(\d+)", values.get("NIMBRA_SERVER_URL", ""))
    store = re.fullmatch(r"http://127\.0\.0\.1:(\d+)", values.get("NIMBRA_ENDPOINT", ""))
    if not api or not store:
        raise BenchError(
            "the library must be built for the loopback development server "
            f"(NIMBRA_SERVER_URL {values.get('NIMBRA_SERVER_URL')!r}, "
            f"NIMBRA_ENDPOINT {values.get('NIMBRA_ENDPOINT')!r})")
    return {
        "api_url": values["NIMBRA_SERVER_URL"],
        "endpoint": values["NIMBRA_ENDPOINT"],
        "api_port": int(api.group(1)),
        "store_port": int(store.group(1)),
        "bucket": values.get("NIMBRA_BUCKET", "nimbra-backup"),
        "api_tls": values["NIMBRA_SERVER_URL"].startswith("https"),
    }


# ---------------------------------------------------------------- helpers


def port_holder(port):
    """None when 127.0.0.1:port can be bound, else a description of its holder."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        s.bind(("127.0.0.1", port))
        return None
    except OSError as e:
        holder = ""
        try:
            out = subprocess.run(["ss", "-ltnpH", f"sport = :{port}"], capture_output=True,
                                 text=True, timeout=10).stdout.strip()
            holder = f" ({out})" if out else ""
        except (OSError, subprocess.SubprocessError):
            pass
        return f"{e.strerror}{holder}"
    finally:
        s.close()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def load_average():
    return os.getloadavg()[0]


def fs_type(path):
    """The file system type of the mount holding path, from /proc/self/mounts."""
    path = os.path.realpath(path)
    best, kind = "", None
    for line in Path("/proc/self/mounts").read_text().splitlines():
        fields = line.split()
        mount = fields[1].replace("\\040", " ")
        if (path == mount or path.startswith(mount.rstrip("/") + "/")) and len(mount) >= len(best):
            best, kind = mount, fields[2]
    return kind


class Tmpfs:
    """A directory on a tmpfs for the tmpfs downloads, or none (path None).

    BENCH_TMPFS names one; otherwise /dev/shm when it is a tmpfs, else, as
    root, a tmpfs mounted under the cache for the run.
    """

    def __init__(self, setting, cache):
        self.path, self.mounted, self.why = None, None, ""
        if setting == "none":
            self.why = "BENCH_TMPFS=none"
            return
        base = Path(setting or "/dev/shm")
        if base.is_dir() and fs_type(base) == "tmpfs" and os.access(base, os.W_OK):
            self.path = base / f"nimbra-bench-{os.getpid()}"
            self.path.mkdir()
            self.why = f"{base} (tmpfs)"
            return
        if setting:
            raise BenchError(f"BENCH_TMPFS={setting} is not a writable directory on a tmpfs")
        if os.geteuid() == 0:
            mount = cache / "tmpfs"
            mount.mkdir(exist_ok=True)
            r = subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=0700", "nimbra-bench", str(mount)],
                               capture_output=True, text=True)
            if r.returncode == 0:
                self.path = self.mounted = mount
                self.why = f"a tmpfs mounted at {mount}"
                return
            self.why = f"/dev/shm is no tmpfs and mounting one failed: {r.stderr.strip()}"
        else:
            self.why = "/dev/shm is no tmpfs and only root may mount one"

    def close(self):
        if self.mounted:
            subprocess.run(["umount", str(self.mounted)], capture_output=True)
        elif self.path:
            shutil.rmtree(self.path, ignore_errors=True)


def wait_for_quiet_machine(threshold, longest):
    start = time.monotonic()
    while True:
        load = load_average()
        if load < threshold:
            log(f"1-minute load {load:.2f} is below {threshold}")
            return load, time.monotonic() - start, True
        waited = time.monotonic() - start
        if waited >= longest:
            log(f"1-minute load still {load:.2f} after {waited:.0f} s: running anyway")
            return load, waited, False
        log(f"1-minute load {load:.2f} >= {threshold}; waiting")
        time.sleep(min(120, longest - waited))


def ensure_file(cache, size_mib):
    """A file of random bytes, made once and kept in the cache."""
    path = cache / f"random-{size_mib}MiB.bin"
    if path.exists() and path.stat().st_size == size_mib * MiB:
        return path
    log(f"creating {path.name}")
    tmp = path.with_suffix(".tmp")
    with open(tmp, "wb") as f:
        for _ in range(size_mib // 4):
            f.write(os.urandom(4 * MiB))
        f.write(os.urandom((size_mib % 4) * MiB))
    tmp.rename(path)
    return path


def ensure_node_modules(install):
    """The pinned ali-oss version, installed with npm ci first if `install`."""
    lock = json.loads((BENCH_DIR / "package-lock.json").read_text())
    want = lock["packages"]["node_modules/ali-oss"]["version"]
    installed = BENCH_DIR / "node_modules/ali-oss/package.json"
    if installed.exists() and json.loads(installed.read_text()).get("version") == want:
        return want
    if not install:
        raise BenchError(f"ali-oss {want} is not installed in bench/node_modules")
    log(f"npm ci (ali-oss {want})")
    try:
        r = subprocess.run(["npm", "ci", "--no-audit", "--no-fund"], cwd=BENCH_DIR,
                           capture_output=True, text=True, timeout=NPM_TIMEOUT)
    except subprocess.TimeoutExpired:
        raise BenchError(f"npm ci did not finish within {NPM_TIMEOUT} s")
    if r.returncode != 0:
        raise BenchError(f"npm ci failed:\n{r.stdout}{r.stderr}")
    return want


def proc_cpu_seconds(pid):
    """User plus system CPU seconds of a running process."""
    try:
        fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except (OSError, IndexError, ValueError):
        return float("nan")


# ---------------------------------------------------------------- server


class DevServer:
    """nimbra-devserver on fixed ports, with the store's control interface."""

    def __init__(self, binary, data_dir, api_port, store_port, log_path):
        self.api_port = api_port
        self.store_port = store_port
        self.base = f"http://127.0.0.1:{store_port}"
        shutil.rmtree(data_dir, ignore_errors=True)
        data_dir.mkdir(parents=True)
        self.data_dir = data_dir
        self.log = open(log_path, "ab")
        self.proc = subprocess.Popen(
            [str(binary), "--data-dir", str(data_dir), "--host", "127.0.0.1",
             "--api-port", str(api_port), "--store-port", str(store_port), "--allow-anonymous"],
            stdout=subprocess.PIPE, stderr=self.log)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            line = self.proc.stdout.readline()
            if not line:
                break
            if line.strip() == b"ready":
                return
        self.stop()
        raise BenchError(f"nimbra-devserver did not start (see {log_path})")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()
        self.log.close()
        shutil.rmtree(self.data_dir, ignore_errors=True)

    def cpu_seconds(self):
        return proc_cpu_seconds(self.proc.pid)

    def connections(self):
        # Control requests are not counted, so reading changes nothing.
        with urllib.request.urlopen(self.base + "/__dev/stats", timeout=30) as r:
            return int(json.load(r)["connections_accepted"])

    def object_size(self, bucket, key):
        req = urllib.request.Request(f"{self.base}/{bucket}/{key}", method="HEAD")
        try:
            with urllib.request.urlopen(req, timeout=30) as r:
                return int(r.headers.get("Content-Length", "-1"))
        except urllib.error.HTTPError:
            return -1

    def seed(self, bucket, key, path):
        """Stores the file at path as key, then reads it once: the server may
        store blobs bypassing the page cache, and the first timed download
        should not pay the disk alone."""
        url = f"{self.base}/{bucket}/{key}"
        for what, args in (("seeding", ["-H", "Expect:", "-T", str(path)]), ("reading", [])):
            r = subprocess.run(["curl", "-sS", "--fail", *args, "-o", os.devnull, url],
                               capture_output=True, text=True)
            if r.returncode != 0:
                raise BenchError(f"{what} {key} failed: {r.stderr.strip()}")


class DelayLine:
    """bench/delayline.py between the compiled-in store port and the server."""

    def __init__(self, listen_port, target_port, delay_ms, log_path):
        self.log = open(log_path, "ab")
        self.proc = subprocess.Popen(
            [sys.executable, str(BENCH_DIR / "delayline.py"), "--listen",
             f"127.0.0.1:{listen_port}", "--target", f"127.0.0.1:{target_port}", "--delay-ms",
             str(delay_ms)], stdout=subprocess.PIPE, stderr=self.log)
        if self.proc.stdout.readline().strip() != b"ready":
            self.stop()
            raise BenchError(f"the delay line did not start (see {log_path})")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()
        self.log.close()


# ---------------------------------------------------------------- one run


def run_child(argv, env, out_path, err_path):
    """Runs argv to completion; returns (exit code, wall seconds, user, sys, peak RSS KiB).

    The child runs under GNU time, whose resource figures are the child's own:
    measured from here, a child's peak RSS could not be smaller than this
    Python process's, which Linux carries over from the fork into the exec.
    """
    usage_path = out_path.with_suffix(".usage")
    usage_path.unlink(missing_ok=True)
    with open(out_path, "wb") as out, open(err_path, "ab") as err:
        err.write(("$ " + " ".join(argv) + "\n").encode())
        err.flush()
        start = time.perf_counter()
        proc = subprocess.Popen(["/usr/bin/time", "-f", "%U %S %M", "-o", str(usage_path)] + argv,
                                env=env, stdout=out, stderr=err, stdin=subprocess.DEVNULL,
                                start_new_session=True)
        killer = threading.Timer(CHILD_TIMEOUT, os.killpg, (proc.pid, signal.SIGKILL))
        killer.start()
        try:
            code = proc.wait()
        finally:
            killer.cancel()
        wall = time.perf_counter() - start
    try:
        user, sys_, rss = usage_path.read_text().split("\n")[-2].split()
        return code, wall, float(user), float(sys_), int(rss)
    except (OSError, IndexError, ValueError):
        raise BenchError(f"no resource figures from /usr/bin/time for {argv[0]}")


class Runner:
    def __init__(self, settings, server, scratch, tmpfs=None):
        self.s = settings
        self.server = server
        self.scratch = scratch
        # Where downloads are written: the tmpfs (if there is one) and disk.
        self.dest_dirs = {"disk": scratch}
        if tmpfs is not None:
            self.dest_dirs["tmpfs"] = tmpfs
        self.err_log = scratch / "clients.log"
        self.env = dict(os.environ)
        self.env.update({
            "BENCH_API_URL": settings.compiled["api_url"],
            "BENCH_ENDPOINT": settings.compiled["endpoint"],
            "BENCH_BUCKET": settings.compiled["bucket"],
            "BENCH_PART_SIZE": str(10 * MiB),
            "BENCH_PARALLEL": "1",
        })

    def argv(self, contender, direction, local, key):
        bucket = self.s.compiled["bucket"]
        url = f"{self.s.compiled['endpoint']}/{bucket}/{key}"
        if contender == "nimbra":
            return ([str(self.s.host), "upload", str(local), key] if direction == "upload" else
                    [str(self.s.host), "download", key, str(local)])
        if contender == "curl":
            common = ["curl", "-sS", "--fail", "-w", '{"seconds":%{time_total}}\n']
            return (common + ["-H", "Expect:", "-T", str(local), "-o", os.devnull, url]
                    if direction == "upload" else common + ["-o", str(local), url])
        if contender == "ali-oss":
            script = str(BENCH_DIR / "ali_oss_client.js")
            return (["node", script, "upload", str(local), key] if direction == "upload" else
                    ["node", script, "download", key, str(local)])
        raise BenchError(f"unknown contender {contender}")

    def measure(self, argv, nbytes, verify):
        """One run: returns a sample dict. `verify` checks the result afterwards."""
        os.sync()  # earlier runs' dirty pages are not written back during this one
        out = self.scratch / "child.out"
        conns_before = self.server.connections()
        cpu_before = self.server.cpu_seconds()
        code, wall, user, sys_, rss_kib = run_child(argv, self.env, out, self.err_log)
        cpu_after = self.server.cpu_seconds()
        conns_after = self.server.connections()
        text = out.read_text(errors="replace").strip().splitlines()
        try:
            answer = json.loads(text[-1])
            seconds = float(answer["seconds"])
        except (IndexError, ValueError, KeyError, TypeError):
            answer, seconds = {}, float("nan")
        problem = verify() if code == 0 else f"exit status {code}"
        if problem:
            raise BenchError(f"{argv[0]} {' '.join(argv[1:3])}: {problem} (see {self.err_log})")
        sample = {
            "seconds": seconds,
            "wall": wall,
            "user": user,
            "sys": sys_,
            "rss_kib": rss_kib,
            "connections": conns_after - conns_before,
            "server_cpu": cpu_after - cpu_before,
            "bytes": nbytes,
        }
        # libNimbra's upload phases: to the 20 % and 95 % reports.
        for key in ("at20", "at95"):
            if isinstance(answer, dict) and answer.get(key, -1) >= 0:
                sample[key] = answer[key]
        return sample

    def transfer(self, contender, direction, size_mib, source, dest_kind="disk"):
        bucket = self.s.compiled["bucket"]
        nbytes = size_mib * MiB
        if direction == "upload":
            key = f"bench/{contender}-{size_mib}MiB"

            def verify():
                got = self.server.object_size(bucket, key)
                return None if got == nbytes else f"stored object has {got} bytes, not {nbytes}"

            return self.measure(self.argv(contender, direction, source, key), nbytes, verify)

        key = seed_key(size_mib)
        dest = self.dest_dirs[dest_kind] / f"{contender}-{size_mib}MiB.bin"

        def verify():
            same = subprocess.run(["cmp", "-s", str(source), str(dest)]).returncode == 0
            return None if same else "downloaded file differs from the source"

        try:
            return self.measure(self.argv(contender, direction, dest, key), nbytes, verify)
        finally:
            dest.unlink(missing_ok=True)


def seed_key(size_mib):
    return f"bench/seed-{size_mib}MiB"


def rotated(items, by):
    by %= len(items)
    return items[by:] + items[:by]


# ---------------------------------------------------------------- parts


def main_runs(s, server, scratch, files, tmpfs):
    runner = Runner(s, server, scratch, tmpfs)
    dests = [d for d in DESTINATIONS if d in runner.dest_dirs]
    samples = []
    for size in s.sizes:
        server.seed(s.compiled["bucket"], seed_key(size), files[size])
        for rep in range(s.repeat):
            # Each repeat starts with another contender (and destination),
            # so drift and position hit all of them alike.
            order = rotated(s.contenders, rep)
            runs = [("upload", None)] + [("download", d) for d in rotated(dests, rep)]
            for direction, dest in runs:
                for contender in order:
                    sample = runner.transfer(contender, direction, size, files[size],
                                             dest or "disk")
                    sample.update(size_mib=size, contender=contender, direction=direction,
                                  repeat=rep + 1)
                    if dest:
                        sample["dest"] = dest
                    samples.append(sample)
                    where = f"{direction} to {dest}" if dest else direction
                    log(f"{size:>5} MiB {where:<16} {contender:<8} "
                        f"{nbytes_per_s(sample) / MiB:8.1f} MiB/s  "
                        f"rss {sample['rss_kib'] / 1024:6.1f} MiB  conns {sample['connections']}")
    return samples


def nbytes_per_s(sample):
    return sample["bytes"] / sample["seconds"] if sample["seconds"] > 0 else float("nan")


def range_config(url, size, close_each, path):
    """A curl config fetching url in consecutive 1 MiB ranges, one transfer each."""
    lines = []
    for start in range(0, size, MiB):
        end = min(start + MiB, size) - 1
        lines += [f'url = "{url}"', f'range = "{start}-{end}"', f'output = "{os.devnull}"',
                  "silent", "show-error", "fail",
                  'write-out = "%{time_total} %{num_connects}\\n"']
        if close_each:
            lines.append('header = "Connection: close"')
        lines.append("next")
    path.write_text("\n".join(lines[:-1]) + "\n")
    return path


def delay_method(s):
    """'netem' when the private namespace's loopback takes a netem qdisc."""
    if not s.netns:
        return "delayline", "not in a private network namespace: the host's loopback is left alone"
    r = subprocess.run(["tc", "qdisc", "add", "dev", "lo", "root", "netem", "delay",
                        f"{s.delay_ms}ms"], capture_output=True, text=True)
    if r.returncode == 0:
        return "netem", f"tc netem delay {s.delay_ms:g}ms on the namespace's loopback"
    return "delayline", f"tc netem refused: {r.stderr.strip()}"


def delay_runs(s, scratch, source, tmpfs):
    """Ranged downloads and uploads with a round-trip delay; returns (info, samples)."""
    method, why = delay_method(s)
    size_mib = s.delay_size
    info = {"method": method, "why": why, "delay_ms": s.delay_ms, "rtt_ms": 2 * s.delay_ms,
            "size_mib": size_mib}
    log(f"latency part: {method} ({why})")
    c = s.compiled
    relay = None
    # With the delay line the server listens elsewhere and the relay takes
    # the library's compiled-in store port.
    store_port = c["store_port"] if method == "netem" else free_port()
    server = DevServer(s.devserver, s.cache / "server-delay", c["api_port"], store_port,
                       scratch / "server-delay.log")
    samples = []
    try:
        server.seed(c["bucket"], seed_key(size_mib), source)
        if method == "delayline":
            relay = DelayLine(c["store_port"], store_port, s.delay_ms, scratch / "delayline.log")
        runner = Runner(s, server, scratch, tmpfs)
        dest = "tmpfs" if "tmpfs" in runner.dest_dirs else "disk"
        info["dest"] = dest
        url = f"{c['endpoint']}/{c['bucket']}/{seed_key(size_mib)}"
        nbytes = size_mib * MiB
        kinds = ["nimbra", "curl-keepalive", "curl-newconn", "nimbra-upload", "curl-put"]
        for rep in range(s.repeat):
            for kind in rotated(kinds, rep):
                if kind == "nimbra":
                    sample = runner.transfer("nimbra", "download", size_mib, source, dest)
                elif kind in ("nimbra-upload", "curl-put"):
                    contender = "nimbra" if kind == "nimbra-upload" else "curl"
                    sample = runner.transfer(contender, "upload", size_mib, source)
                else:
                    cfg = range_config(url, nbytes, kind == "curl-newconn", scratch / "ranges.cfg")
                    sample = runner.measure(["curl", "-K", str(cfg)], nbytes, lambda: None)
                    rows = [ln.split() for ln in (scratch / "child.out").read_text().splitlines()]
                    sample["seconds"] = sum(float(r[0]) for r in rows)
                    sample["curl_connects"] = sum(int(r[1]) for r in rows)
                    sample["requests"] = len(rows)
                sample.update(kind=kind, repeat=rep + 1)
                samples.append(sample)
                log(f"delay {kind:<15} {nbytes_per_s(sample) / MiB:8.1f} MiB/s  "
                    f"conns {sample['connections']}")
    finally:
        if relay:
            relay.stop()
        server.stop()
        if method == "netem":
            subprocess.run(["tc", "qdisc", "del", "dev", "lo", "root"], capture_output=True)
    return info, samples


# ---------------------------------------------------------------- main


def main():
    s = Settings(os.environ)
    for binary in (s.devserver, s.host):
        if not binary.exists():
            raise BenchError(f"{binary} is missing: build it first (make bench does)")
    s.cache.mkdir(exist_ok=True)
    scratch = s.cache / "work"
    shutil.rmtree(scratch, ignore_errors=True)
    scratch.mkdir()
    s.out.mkdir(parents=True, exist_ok=True)

    where = (f"private network namespace {s.netns}" if s.netns else "the host's loopback")
    log(f"running on {where}")
    c = s.compiled
    busy = {p: port_holder(p) for p in (c["api_port"], c["store_port"])}
    busy = {p: h for p, h in busy.items() if h}
    if busy:
        detail = "; ".join(f"127.0.0.1:{p}: {h}" for p, h in busy.items())
        raise BenchError(
            f"the library's compiled-in ports are taken ({detail}). libNimbra can only reach "
            "a server there: stop whatever holds them (or run as root, so run.sh can use a "
            "private network namespace) and try again")
    log(f"ports {c['api_port']} (web API) and {c['store_port']} (store) are free")

    alioss = None
    if "ali-oss" in s.contenders:
        try:
            # npm cannot reach the registry from a private namespace; run.sh
            # installs before entering it.
            alioss = ensure_node_modules(install=not s.netns)
        except (BenchError, OSError, subprocess.SubprocessError) as e:
            # The comparison still stands without the Node client.
            log(f"ali-oss left out: {e}")
            s.contenders.remove("ali-oss")
    sizes = sorted(set(s.sizes + ([s.delay_size] if s.delay_ms > 0 else [])))
    files = {size: ensure_file(s.cache, size) for size in sizes}

    waited = None
    if s.wait_load is not None:
        waited = wait_for_quiet_machine(s.wait_load, s.wait_max)
    meta = report.machine_info(s, alioss)
    meta["where"] = where
    meta["load_start"] = os.getloadavg()
    meta["load_wait"] = waited
    started = time.monotonic()

    tmpfs = Tmpfs(s.tmpfs, s.cache)
    log(f"tmpfs downloads: {tmpfs.path or 'none'} ({tmpfs.why})")
    meta["tmpfs"] = tmpfs.why if tmpfs.path else f"none: {tmpfs.why}"
    try:
        server = DevServer(s.devserver, s.cache / "server", c["api_port"], c["store_port"],
                           scratch / "server.log")
        try:
            samples = main_runs(s, server, scratch, files, tmpfs.path)
        finally:
            server.stop()

        delay = None
        if s.delay_ms > 0:
            delay = delay_runs(s, scratch, files[s.delay_size], tmpfs.path)
    finally:
        tmpfs.close()

    meta["load_end"] = os.getloadavg()
    meta["duration_s"] = time.monotonic() - started
    meta["settings"] = {"sizes_mib": s.sizes, "repeat": s.repeat, "contenders": s.contenders}
    data = {"meta": meta, "samples": samples,
            "delay": {"info": delay[0], "samples": delay[1]} if delay else None}
    (s.out / "latest.json").write_text(json.dumps(data, indent=1) + "\n")
    report.write(data, s.out, BENCH_DIR)
    log(f"wrote {s.out / 'latest.md'} and {s.out / 'throughput.png'}")


def interrupt(*_):
    raise KeyboardInterrupt


if __name__ == "__main__":
    # SIGTERM takes the same way out as Ctrl-C, so servers are stopped.
    signal.signal(signal.SIGTERM, interrupt)
    try:
        if sys.argv[1:] == ["--install-peers"]:
            # Before the run, on the host's network: ali-oss from npm.
            try:
                ensure_node_modules(install=True)
            except (BenchError, OSError, subprocess.SubprocessError) as e:
                log(f"ali-oss cannot be installed, the run goes on without it: {e}")
        else:
            main()
    except BenchError as e:
        print(f"bench: {e}", file=sys.stderr)
        sys.exit(1)
    except KeyboardInterrupt:
        print("bench: interrupted", file=sys.stderr)
        sys.exit(130)

"""Turns the benchmark's samples into latest.md and throughput.png.

Run on its own, it renders both again beside a saved latest.json:
    python3 bench/report.py bench/results/latest.json
"""
import json
import os
import sys
import platform
import re
import statistics
import subprocess
from pathlib import Path

MiB = 1 << 20
GiB = 1 << 30
LABELS = {"nimbra": "libNimbra", "curl": "curl", "ali-oss": "ali-oss"}
GOAL_UPLOAD_VS_CURL = 0.9
# Below this size an operation's fixed cost (a credential fetch over a new TLS
# connection; initiation, part listing and completion of an upload; the
# metadata request of a download: 10-15 ms) is a tenth of curl's whole
# transfer, so the ratio is shown there but not held to the goal.
GOAL_FROM_MIB = 256
# Downloads are held to the goal into the tmpfs, where the figures are the
# protocol path's; the disk's are shown beside them.
GOAL_DOWNLOAD_VS_CURL = 0.9
GOAL_RSS_MAX_MIB = 16
GOAL_SERVER_PUT_CPU_S_PER_GIB = 2.2
GOAL_COMPLETION_SHARE = 0.05


# ---------------------------------------------------------------- machine


def _first_line(argv):
    try:
        r = subprocess.run(argv, capture_output=True, text=True, timeout=30)
        out = (r.stdout or r.stderr).strip()
        return out.splitlines()[0] if out else "?"
    except (OSError, subprocess.SubprocessError):
        return "?"


def _cmake_cache(build, name):
    try:
        m = re.search(rf"^{name}:[A-Z]+=(.*)$", (build / "CMakeCache.txt").read_text(), re.M)
        return m.group(1) if m else "?"
    except OSError:
        return "?"


def _cpu_model():
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "?"


def _memory():
    try:
        kib = int(re.search(r"MemTotal:\s+(\d+)", Path("/proc/meminfo").read_text()).group(1))
        return f"{kib / (1 << 20):.1f} GiB"
    except (OSError, AttributeError):
        return "?"


def _os_name():
    try:
        m = re.search(r'^PRETTY_NAME="?([^"\n]*)', Path("/etc/os-release").read_text(), re.M)
        return m.group(1) if m else "?"
    except OSError:
        return "?"


def machine_info(settings, alioss_version):
    build = settings.build
    root = build.parent if (build.parent / ".git").exists() else Path(__file__).resolve().parents[1]
    commit = _first_line(["git", "-C", str(root), "describe", "--always", "--dirty"])
    return {
        "cpu": _cpu_model(),
        "cores": os.cpu_count(),
        "memory": _memory(),
        "kernel": platform.release(),
        "os": _os_name(),
        "compiler": _first_line([_cmake_cache(build, "CMAKE_CXX_COMPILER"), "--version"]),
        "build_type": _cmake_cache(build, "CMAKE_BUILD_TYPE"),
        "libcurl": _first_line(["curl-config", "--version"]),
        "microhttpd": _first_line(["dpkg-query", "-W", "-f=${Version}", "libmicrohttpd-dev"]),
        "curl": " ".join(_first_line(["curl", "--version"]).split()[:2]),
        "node": _first_line(["node", "--version"]),
        "ali_oss": alioss_version or "not run",
        "python": platform.python_version(),
        "gnuplot": _first_line(["gnuplot", "--version"]),
        "commit": commit,
        "date": _first_line(["date", "-u", "+%Y-%m-%d %H:%M UTC"]),
    }


# ---------------------------------------------------------------- numbers


def throughput(sample):
    return sample["bytes"] / sample["seconds"] / MiB if sample["seconds"] > 0 else float("nan")


def med(values):
    values = list(values)
    return statistics.median(values) if values else float("nan")


def spread(values, fmt):
    values = list(values)
    if not values:
        return "–"
    lo, hi = fmt.format(min(values)), fmt.format(max(values))
    if lo == hi:
        return fmt.format(values[0])
    return f"{fmt.format(med(values))} [{lo}–{hi}]"


def group(samples, **match):
    """Samples matching every field given."""
    return [s for s in samples if all(s.get(k) == v for k, v in match.items())]


def paired_ratios(samples, reference, contender, **match):
    """Per repeat: contender's throughput over reference's in the same repeat."""
    mine = {s["repeat"]: throughput(s) for s in group(samples, contender=contender, **match)}
    ref = {s["repeat"]: throughput(s) for s in group(samples, contender=reference, **match)}
    return [mine[r] / ref[r] for r in sorted(mine) if r in ref and ref[r] > 0]


def paired_ratio(samples, reference, contender, **match):
    """Median over repeats of the paired ratios, None without pairs."""
    ratios = paired_ratios(samples, reference, contender, **match)
    return med(ratios) if ratios else None


# The kinds of run, each a row group of the results: (label, fields).
RUN_KINDS = [("upload", {"direction": "upload"}),
             ("download to tmpfs", {"direction": "download", "dest": "tmpfs"}),
             ("download to disk", {"direction": "download", "dest": "disk"})]


def per_gib(sample, key):
    return sample[key] / (sample["bytes"] / GiB)


def connections_text(values):
    values = sorted(set(values))
    return ", ".join(str(v) for v in values) if values else "–"


# ---------------------------------------------------------------- markdown


def results_table(data):
    samples = data["samples"]
    contenders = data["meta"]["settings"]["contenders"]
    sizes = data["meta"]["settings"]["sizes_mib"]
    rows = ["| size | run | contender | time s | MiB/s | × curl | user CPU s/GiB | "
            "sys CPU s/GiB | peak RSS MiB | connections | server CPU s/GiB |",
            "|---:|---|---|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for size in sizes:
        for kind, match in RUN_KINDS:
            for c in contenders:
                g = group(samples, size_mib=size, contender=c, **match)
                if not g:
                    continue
                ratios = paired_ratios(samples, "curl", c, size_mib=size, **match)
                rows.append(
                    f"| {size} MiB | {kind} | {LABELS[c]} "
                    f"| {spread([s['seconds'] for s in g], '{:.2f}')} "
                    f"| {spread([throughput(s) for s in g], '{:.0f}')} "
                    f"| {spread(ratios, '{:.2f}')} "
                    f"| {med(per_gib(s, 'user') for s in g):.2f} "
                    f"| {med(per_gib(s, 'sys') for s in g):.2f} "
                    f"| {spread([s['rss_kib'] / 1024 for s in g], '{:.1f}')} "
                    f"| {connections_text(s['connections'] for s in g)} "
                    f"| {med(per_gib(s, 'server_cpu') for s in g):.2f} |")
    return "\n".join(rows)


def upload_phases(data):
    """Where libNimbra's upload time goes, from its 20 % and 95 % reports."""
    samples = data["samples"]
    rows = ["| size | setup s (credentials, initiation) | parts s (send, list) | "
            "completion s | completion share | × curl without completion |",
            "|---:|---:|---:|---:|---:|---:|"]
    for size in data["meta"]["settings"]["sizes_mib"]:
        g = [s for s in group(samples, size_mib=size, direction="upload", contender="nimbra")
             if "at20" in s and "at95" in s]
        if not g:
            continue
        curl = {s["repeat"]: throughput(s) for s in group(samples, size_mib=size,
                                                          direction="upload", contender="curl")}
        ratios = [s["bytes"] / MiB / s["at95"] / curl[s["repeat"]] for s in g
                  if s["repeat"] in curl and s["at95"] > 0]
        rows.append(
            f"| {size} MiB | {spread([s['at20'] for s in g], '{:.3f}')} "
            f"| {spread([s['at95'] - s['at20'] for s in g], '{:.2f}')} "
            f"| {spread([s['seconds'] - s['at95'] for s in g], '{:.2f}')} "
            f"| {med((s['seconds'] - s['at95']) / s['seconds'] for s in g):.0%} "
            f"| {f'{med(ratios):.2f}' if ratios else '–'} |")
    return rows if len(rows) > 2 else []


def verdict(ok):
    """ok None: no run the goal applies to."""
    return "**not measured**" if ok is None else "**holds**" if ok else "**missed**"


def ratio_goal(samples, sizes, goal, match, beside=None):
    """(held, text) of the paired ratio to curl at every size from GOAL_FROM_MIB up
    (held None when no such size ran); smaller sizes are shown, not held. `beside`:
    a (label, fields) pair of other runs whose ratios (median [min–max]) are shown
    next to each size's, after the label."""
    parts, ok, measured = [], True, False
    for size in sizes:
        r = paired_ratio(samples, "curl", "nimbra", size_mib=size, **match)
        if r is None:
            continue
        held = size >= GOAL_FROM_MIB
        measured = measured or held
        ok = ok and (r >= goal or not held)
        notes = [] if held else ["not held"]
        if beside:
            other = paired_ratios(samples, "curl", "nimbra", size_mib=size, **beside[1])
            if other:
                notes.append(f"{beside[0]} {spread(other, '{:.2f}')}")
        parts.append(f"{size} MiB {r:.2f}" + (f" ({'; '.join(notes)})" if notes else ""))
    return (ok if measured else None), ", ".join(parts) if parts else "no runs"


def goals(data):
    samples = data["samples"]
    contenders = data["meta"]["settings"]["contenders"]
    sizes = data["meta"]["settings"]["sizes_mib"]
    lines = []
    if "nimbra" not in contenders:
        return ["libNimbra was not run."]
    if "curl" in contenders:
        ok, text = ratio_goal(samples, sizes, GOAL_UPLOAD_VS_CURL, {"direction": "upload"})
        lines.append(f"- Upload at least {GOAL_UPLOAD_VS_CURL} of curl's single PUT from "
                     f"{GOAL_FROM_MIB} MiB up: {verdict(ok)} ({text}).")
        ok, text = ratio_goal(samples, sizes, GOAL_DOWNLOAD_VS_CURL,
                              {"direction": "download", "dest": "tmpfs"},
                              ("to disk", {"direction": "download", "dest": "disk"}))
        lines.append(f"- Download into tmpfs at least {GOAL_DOWNLOAD_VS_CURL} of curl's single GET "
                     f"from {GOAL_FROM_MIB} MiB up, medians of paired runs (to disk beside, "
                     f"median [min–max], not held): {verdict(ok)} ({text}).")
    if "ali-oss" in contenders:
        for kind, match in RUN_KINDS[:2]:
            parts, ok = [], True
            for size in sizes:
                r = paired_ratio(samples, "ali-oss", "nimbra", size_mib=size, **match)
                if r is not None:
                    ok = ok and r >= 1.0
                    parts.append(f"{size} MiB {r:.2f}×")
            if parts:
                lines.append(f"- {kind.capitalize()} at least equal to ali-oss at parallelism 1: "
                             f"{verdict(ok)} (libNimbra/ali-oss {', '.join(parts)}).")
    parts, ok = [], True
    for kind, match in RUN_KINDS:
        rss = [s["rss_kib"] / 1024 for s in group(samples, contender="nimbra", **match)]
        if rss:
            ok = ok and max(rss) <= GOAL_RSS_MAX_MIB
            lo, hi = f"{min(rss):.1f}", f"{max(rss):.1f}"
            parts.append(f"{kind} {lo if lo == hi else f'{lo}–{hi}'} MiB")
    lines.append(f"- Peak RSS of every libNimbra run at most {GOAL_RSS_MAX_MIB} MiB, whatever the "
                 f"size: {verdict(ok)} ({', '.join(parts)}).")
    if "curl" in contenders:
        parts = []
        ok = True
        for size in sizes:
            g = group(samples, size_mib=size, direction="upload", contender="curl")
            if g:
                cpu = med(per_gib(s, "server_cpu") for s in g)
                ok = ok and cpu <= GOAL_SERVER_PUT_CPU_S_PER_GIB
                parts.append(f"{size} MiB {cpu:.2f} s")
        lines.append(f"- Dev server CPU per GiB of a single PUT at most "
                     f"{GOAL_SERVER_PUT_CPU_S_PER_GIB} s: {verdict(ok)} ({', '.join(parts)}).")
    parts = []
    ok = True
    for size in sizes:
        g = [s for s in group(samples, size_mib=size, direction="upload", contender="nimbra")
             if s.get("at95", -1) >= 0]
        if g:
            share = med((s["seconds"] - s["at95"]) / s["seconds"] for s in g)
            ok = ok and share <= GOAL_COMPLETION_SHARE
            parts.append(f"{size} MiB {share:.1%}")
    if parts:
        lines.append(f"- libNimbra's upload spends at most {GOAL_COMPLETION_SHARE:.0%} of its time "
                     f"after its 95 % report: {verdict(ok)} ({', '.join(parts)}).")
    conns = [s["connections"] for s in group(samples, contender="nimbra")]
    lines.append(f"- One store connection per operation: {verdict(conns and set(conns) == {1})} "
                 f"(libNimbra runs opened {connections_text(conns)}).")
    return lines


def delay_section(data):
    delay = data.get("delay")
    if not delay:
        return ["Not run (BENCH_DELAY_MS=0)."]
    info, samples = delay["info"], delay["samples"]
    rtt = info["rtt_ms"] / 1000.0
    bound = 1.0 / rtt  # one 1 MiB range per round trip, in MiB/s
    # The tighter bound adds the time one range takes at this server's
    # undelayed GET speed (curl's single GET of the same size, if measured).
    dest = info["dest"]
    curl_get = [throughput(s) for s in group(data["samples"], direction="download", dest=dest,
                                             contender="curl", size_mib=info["size_mib"])]
    if not curl_get:
        curl_get = [throughput(s) for s in group(data["samples"], direction="download",
                                                 dest=dest, contender="curl")]
    tight = 1.0 / (rtt + 1.0 / med(curl_get)) if curl_get else None
    if info["method"] == "netem":
        how = f"`tc netem delay {info['delay_ms']:g}ms` on the loopback of the private namespace"
    else:
        how = (f"netem is not available here — {info['why']} — so `bench/delayline.py`, a "
               f"userspace relay on the store port, delays every chunk {info['delay_ms']:g} ms "
               "each way and charges a new connection one round trip for its handshake; it does "
               "not model TCP slow start, so the cost of a new connection per range is if "
               "anything understated")
    lines = [f"{info['size_mib']} MiB downloaded in 1 MiB ranges (libNimbra's to {dest}), and "
             f"uploaded, with a {info['rtt_ms']:g} ms round trip ({how}).", "",
             "| client | MiB/s | of 1 MiB/RTT bound | time s | store connections | requests |",
             "|---|---:|---:|---:|---:|---:|"]
    names = {"nimbra": "libNimbra download (keep-alive, 1 MiB ranges)",
             "curl-keepalive": "curl, 1 MiB ranges, one kept-alive connection",
             "curl-newconn": "curl, 1 MiB ranges, new connection per range"}
    medians = {}
    for kind in ("nimbra", "curl-keepalive", "curl-newconn"):
        g = group(samples, kind=kind)
        if not g:
            continue
        medians[kind] = med(throughput(s) for s in g)
        reqs = connections_text(s.get("requests", "–") for s in g) if kind != "nimbra" else \
            f"{-(-info['size_mib'] * MiB // MiB)} ranges + HEAD"
        lines.append(f"| {names[kind]} | {spread([throughput(s) for s in g], '{:.1f}')} "
                     f"| {medians[kind] / bound:.2f} | {spread([s['seconds'] for s in g], '{:.2f}')} "
                     f"| {connections_text(s['connections'] for s in g)} | {reqs} |")
    parts = -(-info["size_mib"] // 10)
    uploads = {"nimbra-upload": ("libNimbra upload (multipart, 10 MiB parts)",
                                 f"initiate + {parts} parts + list + complete"),
               "curl-put": ("curl, one PUT", "1")}
    for kind, (name, reqs) in uploads.items():
        g = group(samples, kind=kind)
        if not g:
            continue
        medians[kind] = med(throughput(s) for s in g)
        lines.append(f"| {name} | {spread([throughput(s) for s in g], '{:.1f}')} | – "
                     f"| {spread([s['seconds'] for s in g], '{:.2f}')} "
                     f"| {connections_text(s['connections'] for s in g)} | {reqs} |")
    lines.append("")
    tight_text = (f"; adding one range's transfer at curl's undelayed GET speed gives "
                  f"{tight:.1f} MiB/s" if tight else "")
    lines.append(f"Bound: one 1 MiB range per {info['rtt_ms']:g} ms round trip allows "
                 f"{bound:.1f} MiB/s{tight_text}.")
    if "curl-keepalive" in medians and "curl-newconn" in medians:
        lines.append(f"Keep-alive against a new connection per range: "
                     f"{medians['curl-keepalive']:.1f} vs {medians['curl-newconn']:.1f} MiB/s "
                     f"({medians['curl-keepalive'] / medians['curl-newconn']:.2f}×).")
    if "nimbra-upload" in medians and "curl-put" in medians:
        lines.append(f"Upload: the library's multipart upload against curl's single PUT under the "
                     f"same delay: {medians['nimbra-upload']:.1f} vs {medians['curl-put']:.1f} "
                     f"MiB/s ({medians['nimbra-upload'] / medians['curl-put']:.2f}×); each of its "
                     f"{parts + 3} store requests waits one round trip for its answer.")
    return lines


def machine_section(meta):
    load_wait = meta.get("load_wait")
    if load_wait is None:
        waited = "no wait for a quiet machine was asked for"
    else:
        load, secs, quiet = load_wait
        waited = (f"waited {secs:.0f} s for the 1-minute load to drop below the threshold; "
                  + ("it did" if quiet else f"it never did (still {load:.2f}): **the machine was "
                     "loaded during this run**"))
    ls, le = meta["load_start"], meta["load_end"]
    return [
        f"- CPU: {meta['cpu']}, {meta['cores']} cores; memory {meta['memory']}",
        f"- Kernel {meta['kernel']}, {meta['os']}",
        f"- libNimbra and nimbra-devserver: {meta['build_type']} build, {meta['compiler']}; "
        f"{meta['libcurl']}; libmicrohttpd {meta['microhttpd']}; commit {meta['commit']}",
        f"- Peers: {meta['curl']}; Node.js {meta['node']}, ali-oss {meta['ali_oss']}",
        f"- Harness: Python {meta['python']}, {meta['gnuplot']}",
        f"- Ran on {meta['where']}, {meta['date']}, {meta['duration_s'] / 60:.1f} min",
        f"- Downloads to tmpfs: {meta['tmpfs']}; to disk: the cache directory's file system",
        f"- Load average (1/5/15 min) at start {ls[0]:.2f}/{ls[1]:.2f}/{ls[2]:.2f}, "
        f"at end {le[0]:.2f}/{le[1]:.2f}/{le[2]:.2f}; {waited}",
    ]


METHOD = """\
- One `nimbra-devserver` (started with `--allow-anonymous`, on the library's compiled-in
  ports) serves every contender; its data directory is on the same disk as the files.
- **libNimbra**: `nimbra-bench-host` calls `InitOssManager`, then `UploadFile` (multipart,
  10 MiB parts) or `DownloadFile` (HEAD, then 1 MiB ranged GETs in order); the credential
  fetch from the web API is inside the timed call.
- **curl**: one anonymous `PUT` (`-T`, no `Expect: 100-continue`) or one `GET` of the whole
  object: the ceiling this server and the loopback allow.
- **ali-oss**: `bench/ali_oss_client.js`, `multipartUpload` with 10 MiB parts and
  `parallel: 1`, and `get` to a file; it fetches its STS credentials itself (timed).
- Files of random bytes (`bench/cache/`); every download is compared with its source
  (`cmp`) and every upload's stored size checked, outside the timed part. `sync` runs before
  each measurement. Each object is read once before its downloads are timed, so that none
  of them pays for reading the server's blob from disk.
- Every download is made twice: into a tmpfs, where it measures the protocol path alone
  (server, loopback, client), and to disk, where the page cache and its writeback add
  their own cost and spread. The download goal is held to the tmpfs figures.
- Each repeat runs all contenders, uploads then downloads (to tmpfs and to disk, the first
  of the two alternating), starting with a different contender each time. Shown: median
  [min–max] over the repeats.
- *time s*: the transfer as the client times it (libNimbra's call, curl's `time_total`, the
  Node script's own clock, so Node's start-up is excluded); *MiB/s* from it. *× curl*: the
  throughput ratio to curl's run of the same repeat, median [min–max] over the repeats.
- *CPU* and *peak RSS*: the client process's own, from `/usr/bin/time`, start-up included (Node
  spends ~0.1–0.2 s of CPU starting). *connections*: the server's `connections_accepted`
  before and after (the web API port is not counted). *server CPU*: the dev server's CPU
  during the run."""


def write(data, out_dir, bench_dir):
    meta = data["meta"]
    md = ["# Benchmark: upload and download through libNimbra", "",
          "Generated by `make bench` (bench/run.sh); raw samples in `latest.json`.", "",
          "![throughput](throughput.png)", "",
          "## Goals", ""]
    md += goals(data)
    md += ["", "## Results", "", results_table(data), ""]
    phases = upload_phases(data)
    if phases:
        md += ["libNimbra's upload, split at its 20 % and 95 % progress reports. The completion "
               "is one request in which the dev server makes the object of its parts' files "
               "(linked, not copied):", ""] + phases + [""]
    md += ["## Round-trip delay", ""]
    md += delay_section(data)
    findings = bench_dir / "FINDINGS.md"
    if findings.exists():
        md += ["", findings.read_text().rstrip()]
    md += ["", "## Machine", ""]
    md += machine_section(meta)
    md += ["", "## Method", "", METHOD, ""]
    (out_dir / "latest.md").write_text("\n".join(md))
    chart(data, out_dir)


# ---------------------------------------------------------------- chart


def chart(data, out_dir):
    samples = data["samples"]
    contenders = data["meta"]["settings"]["contenders"]
    sizes = data["meta"]["settings"]["sizes_mib"]
    files = {}
    for i, (kind, match) in enumerate(RUN_KINDS):
        if not group(samples, **match):
            continue
        rows = []
        for size in sizes:
            row = [f'"{size} MiB"']
            for c in contenders:
                t = [throughput(s) for s in group(samples, size_mib=size, contender=c, **match)]
                row += [f"{med(t):.2f}", f"{min(t):.2f}", f"{max(t):.2f}"] if t else ["0"] * 3
            rows.append(" ".join(row))
        path = out_dir / f".throughput-{i}.dat"
        path.write_text("\n".join(rows) + "\n")
        files[kind] = path
    colors = {"nimbra": "#1f77b4", "curl": "#7f7f7f", "ali-oss": "#ff7f0e"}
    script = [
        f"set terminal pngcairo size {550 * len(files)},500 font 'sans,10'",
        f"set output '{out_dir / 'throughput.png'}'",
        f"set multiplot layout 1,{len(files)} title 'Throughput by file size (median, min–max bars; "
        "higher is better)'",
        "set style data histograms",
        "set style histogram errorbars gap 1.5 lw 1",
        "set style fill solid 0.85 border -1",
        "set boxwidth 0.9",
        "set ylabel 'MiB/s'",
        "set yrange [0:*]",
        "set grid ytics",
        "set key outside bottom center horizontal",
    ]
    for kind, path in files.items():
        plots = []
        for i, c in enumerate(contenders):
            col = 2 + 3 * i
            using = f"{col}:{col + 1}:{col + 2}" + (":xtic(1)" if i == 0 else "")
            src = f"'{path}'" if i == 0 else "''"
            plots.append(f"{src} using {using} title '{LABELS[c]}' lc rgb '{colors[c]}'")
        script.append(f"set title '{kind.capitalize()}'")
        script.append("plot " + ", ".join(plots))
    script.append("unset multiplot")
    r = subprocess.run(["gnuplot"], input="\n".join(script) + "\n", capture_output=True,
                       text=True)
    for path in files.values():
        path.unlink(missing_ok=True)
    if r.returncode != 0:
        raise RuntimeError(f"gnuplot failed: {r.stderr}")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: report.py RESULTS_DIR/latest.json")
    source = Path(sys.argv[1]).resolve()
    write(json.loads(source.read_text()), source.parent, Path(__file__).resolve().parent)

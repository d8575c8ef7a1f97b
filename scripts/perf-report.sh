#!/usr/bin/env bash
# Runs the performance benchmarks (peers side by side from the page cache,
# playback in the viewer's window, and playback from disk), keeps their output in
# build/perf/results/, and regenerates the tables in docs/performance.md and the
# chart docs/performance.png from it.
#
# usage: scripts/perf-report.sh [--no-run | --timed-only]
#   --no-run      reuse the results of the last run; only the tables and the chart
#   --timed-only  run only the playback in time (24, 50, 60 fps through the window)
#                 and rewrite only its tables
# Environment: ROUNDS (peers rounds, default 9), COLD_ROUNDS (default 5),
#              COLD_FRAMES (default 24), COLD_DIR (a folder on a disk; default the
#              system's temporary folder), PLAYBACK_SECONDS (per case, default 3).
set -euo pipefail
cd "$(dirname "$0")/.."

run=1
timed_only=0
[ "${1:-}" = "--no-run" ] && run=0
[ "${1:-}" = "--timed-only" ] && timed_only=1

out=build/perf/results
doc=docs/performance.md
chart=docs/performance.png

timed_run() {
    # Playing in time through the same window: the frames (4K 24, 8K 12; 3.6 GB)
    # are written once per run and removed.
    local frames=build/perf/timed-frames
    QT_QPA_PLATFORM="offscreen:configfile=$PWD/tests/qt/offscreen_screen.json" \
        nice build/perf/bench/qt/karvelin-playback-bench --timed 1 --sequences none \
        --dir "$frames" --timed-tsv "$out/timed.tsv" | tee "$out/timed.txt"
    rm -rf "$frames"
}

if [ "$timed_only" = 1 ]; then
    cmake -S . -B build/perf -DCMAKE_BUILD_TYPE=Release -DKARVELIN_TESTS=OFF -DKARVELIN_BENCH=ON \
          -DKARVELIN_QT=ON >/dev/null
    cmake --build build/perf -j 2 --target karvelin-playback-bench
    mkdir -p "$out"
    timed_run
    run=0
fi

if [ "$run" = 1 ]; then
    scripts/install-deps.sh build run perf
    cmake -S . -B build/perf -DCMAKE_BUILD_TYPE=Release -DKARVELIN_TESTS=OFF -DKARVELIN_BENCH=ON \
          -DKARVELIN_QT=ON >/dev/null
    cmake --build build/perf -j 2 --target peers_bench cold_bench karvelin-playback-bench
    mkdir -p "$out"
    # nice: the machine may be shared; the benchmarks interleave their cases so
    # that load from elsewhere hits every case alike.
    nice build/perf/bench/peers/peers_bench --rounds "${ROUNDS:-9}" --tsv "$out/peers.tsv" \
        | tee "$out/peers.txt"
    cold_args=(--rounds "${COLD_ROUNDS:-5}" --frames "${COLD_FRAMES:-24}" --tsv "$out/cold.tsv")
    [ -n "${COLD_DIR:-}" ] && cold_args+=(--dir "$COLD_DIR")
    nice build/perf/bench/cold_bench "${cold_args[@]}" | tee "$out/cold.txt"
    # The viewer's own window on Qt's offscreen platform: its backing store is an
    # image in this process, so a tick's time is the viewer's work and not an X
    # server's. The frames (2.4 GB) are written once per run and removed.
    frames=build/perf/playback-frames
    # A screen larger than 7680x4320, so a full-size picture is painted whole
    # (the window never grows past the screen's available area).
    QT_QPA_PLATFORM="offscreen:configfile=$PWD/tests/qt/offscreen_screen.json" \
        nice build/perf/bench/qt/karvelin-playback-bench \
        --seconds "${PLAYBACK_SECONDS:-3}" --dir "$frames" --tsv "$out/playback.tsv" \
        --copy-tsv "$out/copy.tsv" | tee "$out/playback.txt"
    rm -rf "$frames"
    timed_run
    {
        echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
        echo "commit: $(git rev-parse --short HEAD 2>/dev/null || echo unknown)"
        echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
        echo "cores: $(nproc)"
        echo "memory: $(awk '/MemTotal/ {printf "%.1f GB", $2 / 1048576}' /proc/meminfo)"
        disk=$(df --output=source "${COLD_DIR:-${TMPDIR:-/tmp}}" | tail -1)
        echo "disk: $disk, $(lsblk -dno ROTA,SIZE "$disk" 2>/dev/null |
            awk '{print ($1 == 1 ? "reported rotational" : "reported non-rotational") ", " $2}')"
        echo "compiler: $(c++ --version | head -1)"
        echo "libavcodec: $(pkg-config --modversion libavcodec), libswscale: $(pkg-config --modversion libswscale), OpenImageIO: $(pkg-config --modversion OpenImageIO)"
    } > "$out/machine.txt"
fi

if [ "$timed_only" = 0 ]; then
for f in peers.tsv cold.tsv playback.tsv copy.tsv timed.tsv machine.txt; do
    [ -f "$out/$f" ] || { echo "missing $out/$f: run without --no-run first" >&2; exit 1; }
done

# Chart: ms per frame against the display size, log scale, one panel per frame
# size, grainy picture (the one every reader reads).
for size in 4K 8K; do
    for c in karvelin karvelin-709 ffmpeg oiio oiio-8bit floor-whole floor-rows; do
        awk -F'\t' -v s="$size" -v c="$c" \
            '$1 == s && $2 == "grain" && $4 == c {print $3, $5, $6, $7}' "$out/peers.tsv" \
            > "$out/chart-$size-$c.dat"
    done
done
gnuplot <<EOF
set terminal pngcairo size 1300,640 font "DejaVu Sans,11"
set output "$chart"
set multiplot layout 1,2 title "DPX frame to display picture, page cache: ms per frame (median, bars min-max), log scale"
set logscale y
set grid ytics mytics xtics
set xrange [-0.4:3.4]
set xtics ("1/1" 0, "1/2" 1, "1/4" 2, "1/8" 3)
set xlabel "display size"
set ylabel "ms per frame"
set key below maxrows 3 font ",10"
do for [size in "4K 8K"] {
    set title ((size eq "4K") ? "3840 x 2160" : "7680 x 4320")
    plot \
        "$out/chart-".size."-oiio-8bit.dat" u 1:2:3:4 w yerrorlines lw 2 pt 9 t "OpenImageIO 8-bit", \
        "$out/chart-".size."-ffmpeg.dat" u 1:2:3:4 w yerrorlines lw 2 pt 5 t "FFmpeg + swscale", \
        "$out/chart-".size."-oiio.dat" u 1:2:3:4 w yerrorlines lw 2 pt 11 t "OpenImageIO 16-bit", \
        "$out/chart-".size."-karvelin-709.dat" u 1:2:3:4 w yerrorlines lw 2 pt 6 t "Karvelin, BT.709 on", \
        "$out/chart-".size."-karvelin.dat" u 1:2:3:4 w yerrorlines lw 3 pt 7 t "Karvelin", \
        "$out/chart-".size."-floor-whole.dat" u 1:2:3:4 w yerrorlines dt 2 lw 2 pt 1 t "floor: whole file read()", \
        "$out/chart-".size."-floor-rows.dat" u 1:2:3:4 w yerrorlines dt 3 lw 2 pt 2 t "floor: pread needed rows"
}
unset multiplot
EOF

# Tables into the document, between the generated-block markers.
fi

python3 - "$out" "$doc" "$timed_only" <<'EOF'
import csv, sys
out, doc, timed_only = sys.argv[1], sys.argv[2], sys.argv[3] == "1"

def rows(name):
    with open(f"{out}/{name}") as f:
        return list(csv.DictReader(f, delimiter="\t"))

timed = rows("timed.tsv")
if not timed_only:
    peers = rows("peers.tsv")
    cold = rows("cold.tsv")
    playback = rows("playback.tsv")
    copy = rows("copy.tsv")
    machine = open(f"{out}/machine.txt").read().strip().splitlines()
fmt = lambda r: f"{float(r['median_ms']):.2f} ({float(r['min_ms']):.2f}–{float(r['max_ms']):.2f})"
get = lambda size, pic, shift, case: next(
    (r for r in peers if r["size"] == size and r["picture"] == pic and r["shift"] == str(shift)
     and r["case"] == case), None)

def peers_table():
    lines = []
    for size in ("4K", "8K"):
        if not get(size, "grain", 0, "karvelin"):
            continue
        lines += [f"**{size}** (grainy picture), ms per frame, median (min–max):", "",
                  "| case | 1/1 | 1/2 | 1/4 | 1/8 |", "|---|---|---|---|---|"]
        for case in ("karvelin", "karvelin-709", "ffmpeg", "oiio", "oiio-8bit",
                     "floor-whole", "floor-rows"):
            lines.append(f"| {case} | " + " | ".join(fmt(get(size, "grain", s, case)) for s in range(4)) + " |")
        lines.append("")
        lines += ["| ratio (of medians) | 1/1 | 1/2 | 1/4 | 1/8 |", "|---|---|---|---|---|"]
        ratio = lambda a, b, s, pa="grain", pb="grain": float(get(size, pa, s, a)["median_ms"]) / float(get(size, pb, s, b)["median_ms"])
        for label, a, b, pic in (("FFmpeg ÷ karvelin (target ≥ 10)", "ffmpeg", "karvelin", "grain"),
                                 ("OpenImageIO 16-bit ÷ karvelin (target ≥ 100)", "oiio", "karvelin", "grain"),
                                 ("OpenImageIO 8-bit ÷ karvelin", "oiio-8bit", "karvelin", "grain"),
                                 ("karvelin ÷ floor-rows", "karvelin", "floor-rows", "grain"),
                                 ("karvelin ÷ floor-whole", "karvelin", "floor-whole", "grain"),
                                 ("conversion on ÷ off, grainy (target ≤ 1.5 at 1/1, ≤ 1.25 below)", "karvelin-709", "karvelin", "grain"),
                                 ("conversion on ÷ off, test card", "karvelin-709", "karvelin", "card")):
            if not get(size, pic, 0, a):
                continue
            lines.append(f"| {label} | " + " | ".join(f"{ratio(a, b, s, pic, pic):.2f}" for s in range(4)) + " |")
        lines.append("")
        card = [get(size, "card", s, c) for s in range(4) for c in ("karvelin", "karvelin-709")]
        if all(card):
            lines += [f"{size} test card (karvelin-mkseq), ms per frame:", "",
                      "| case | 1/1 | 1/2 | 1/4 | 1/8 |", "|---|---|---|---|---|"]
            for case in ("karvelin", "karvelin-709"):
                lines.append(f"| {case} | " + " | ".join(fmt(get(size, "card", s, case)) for s in range(4)) + " |")
            lines.append("")
    return "\n".join(lines)

def cold_table():
    lines = ["| display | ticks | read-ahead | frames/s median (min–max) | hint call (µs) | pages still cached after the drop |",
             "|---|---|---|---|---|---|"]
    floor = next((r for r in cold if r["hint"] == "disk-floor"), None)
    for r in cold:
        if r["hint"] == "disk-floor":
            continue
        pacing = "back to back" if r["pacing"] == "free" else "every 16 ms"
        hint = {"none": "none", "rows": "needed rows", "whole": "whole file"}[r["hint"]]
        us = "–" if r["hint"] == "none" else f"{float(r['hint_us']):.0f}"
        lines.append(f"| 1/{1 << int(r['shift'])} | {pacing} | {hint} | {float(r['fps_median']):.1f} "
                     f"({float(r['fps_min']):.1f}–{float(r['fps_max']):.1f}) | {us} | {float(r['cached_after_drop_pct']):.2f}% |")
    if floor:
        lines.append(f"| disk floor | back to back | (whole files, 8 MB reads) | {float(floor['fps_median']):.1f} "
                     f"({float(floor['fps_min']):.1f}–{float(floor['fps_max']):.1f}) | – | {float(floor['cached_after_drop_pct']):.2f}% |")
        lines += ["", "| played with the hint of the needed rows, back to back ÷ the disk floor (target ≥ 0.9) | 1/1 | 1/4 |",
                  "|---|---|---|"]
        ratio = lambda shift: next(float(r["fps_median"]) for r in cold if r["hint"] == "rows"
                                   and r["pacing"] == "free" and r["shift"] == str(shift)) / float(floor["fps_median"])
        lines.append(f"| frames/s ratio | {ratio(0):.2f} | {ratio(2):.2f} |")
    return "\n".join(lines)

def playback_table():
    sizes = ("Original", "1/2", "1/4", "1/8")
    lines = []
    for seq, title in (("smooth", "smooth pattern"), ("grain", "grainy picture")):
        for frame in ("4K", "8K"):
            rs = [r for r in playback if r["sequence"] == seq and r["size"] == frame]
            if not rs:
                continue
            get_pb = lambda shift, conv: next((r for r in rs if r["shift"] == str(shift) and r["convert"] == str(conv)), None)
            lines += [f"**{frame} {title}**: frames/s, ms per tick (load + paint), the floor (needed rows + one copy of the display) and tick ÷ floor (target ≤ 1.3):", "",
                      "| size | conversion | frames/s | ms/tick | of it paint | floor ms | tick ÷ floor | on ÷ off, frames/s (target ≥ 1/1.2 where off plays 62.5) |",
                      "|---|---|---|---|---|---|---|---|"]
            for shift in range(4):
                off = get_pb(shift, 0)
                for conv in (0, 1):
                    r = get_pb(shift, conv)
                    if not r:
                        continue
                    onoff = ""
                    if conv == 1 and off and float(off["fps"]) > 0:
                        onoff = f"{float(r['fps']) / float(off['fps']):.2f}"
                    lines.append(f"| {sizes[shift]} | {'on' if conv else 'off'} | {float(r['fps']):.1f} | {float(r['ms_tick']):.2f} | "
                                 f"{float(r['ms_paint']):.2f} | {float(r['floor_ms']):.2f} | {float(r['ms_tick']) / float(r['floor_ms']):.2f} | {onoff} |")
            lines.append("")
    return "\n".join(lines)

def copy_table():
    lines = ["| picture | plain stores, 1 thread | streaming stores, 1 thread | streaming stores, 2 threads (the viewer) | 1 thread ÷ 2 threads (target ≥ 2 at 8K) | memory alone, 2 threads: read, write (GB/s) | the 2-thread copy moves (GB/s) |",
             "|---|---|---|---|---|---|---|"]
    for w, h in (("7680", "4320"), ("3840", "2160"), ("1920", "1080")):
        v = {r["variant"]: r for r in copy if r["width"] == w and r["height"] == h}
        if not all(k in v for k in ("plain", "stream", "stream-2-threads")):
            continue
        cell = lambda name: f"{float(v[name]['median_ms']):.2f} ({float(v[name]['min_ms']):.2f})"
        two = float(v["stream-2-threads"]["median_ms"])
        memory = (f"{float(v['memory-read-GBps']['median_ms']):.1f}, {float(v['memory-write-GBps']['median_ms']):.1f}"
                  if "memory-read-GBps" in v else "–")
        moved = 2 * int(w) * int(h) * 4 / two / 1e6
        lines.append(f"| {w}×{h} | {cell('plain')} | {cell('stream')} | {cell('stream-2-threads')} | "
                     f"{float(v['stream']['median_ms']) / two:.2f} | {memory} | {moved:.1f} |")
    return "\n".join(lines)

def timed_table():
    sizes = ["1/1", "1/2", "1/4", "1/8"]
    key = lambda r: (r["source"], r["frame"], r["size"], r["convert"], r["rate"])
    by = {}
    for r in timed:
        by.setdefault(key(r), {})[r["phase"]] = r
    cell = lambda r: (f"{float(r['fps_over_rate']):.3f} | {r['dropped']} | "
                      f"{float(r['median_ms']):.2f} | {float(r['p99_ms']):.2f}") if r else "– | – | – | –"
    lines = []
    for frame in ("4K", "8K"):
        rows_ = [(k, v) for k, v in by.items() if k[0] == "cache" and k[1] == frame]
        if not rows_:
            continue
        lines += [f"**{frame} from the page cache**, cache empty at the start of each case: frames shown per "
                  "second ÷ rate, frames dropped (seen from the frames each paint showed), presentation "
                  "interval median and 99th percentile in ms; first loop, then the two loops after it; "
                  "the window's own drop count for the whole run and the share of frames shown from the cache:", "",
                  "| size | conversion | rate | first: fps÷rate | dropped | median | p99 | "
                  "later: fps÷rate | dropped | median | p99 | window's count | from cache |",
                  "|---|---|---|---|---|---|---|---|---|---|---|---|---|"]
        for k, v in sorted(rows_, key=lambda kv: (int(kv[0][2]), int(kv[0][3]), float(kv[0][4]))):
            first, later = v.get("first"), v.get("later")
            any_ = first or later
            lines.append(f"| {sizes[int(k[2])]} | {'on' if k[3] == '1' else 'off'} | {float(k[4]):g} | "
                         f"{cell(first)} | {cell(later)} | {any_['window_dropped']} | "
                         f"{float(any_['cached_share']):.2f} |")
        lines.append("")
    disk = [r for r in timed if r["source"] == "disk"]
    if disk:
        lines += ["**4K first loop from disk** (every file dropped from the page cache), beside the disk's "
                  "floor (every file read whole, 8 MB reads, back to back):", "",
                  "| size | rate | frames/s | floor frames/s | ÷ min(floor, rate) | dropped | p99 ms |",
                  "|---|---|---|---|---|---|---|"]
        for r in disk:
            fps = float(r["fps_over_rate"]) * float(r["rate"])
            floor = float(r["floor_fps"])
            lines.append(f"| {sizes[int(r['size'])]} | {float(r['rate']):g} | {fps:.1f} | {floor:.1f} | "
                         f"{fps / min(floor, float(r['rate'])):.2f} | {r['dropped']} | {float(r['p99_ms']):.2f} |")
        lines.append("")
    mem = [r for r in timed if r["source"] == "1GB"]
    if mem:
        lines.append(f"**Memory**: with a 1 GB cache on the 8K sequence at 1/1 (12 frames, 1.59 GB decoded) "
                     f"the resident size grew by at most {max(float(r['peak_rss_mb']) for r in mem):.0f} MB "
                     f"while playing (budget 1024 MB; target ≤ 1126 MB).")
    return "\n".join(lines)

blocks = {"timed": timed_table()}
if not timed_only:
    blocks.update({"machine": "\n".join(f"- {m}" for m in machine),
                   "peers": peers_table(), "cold": cold_table(), "playback": playback_table(),
                   "copy": copy_table()})
text = open(doc).read()
for name, body in blocks.items():
    begin, end = f"<!-- {name}:begin -->", f"<!-- {name}:end -->"
    a, b = text.index(begin) + len(begin), text.index(end)
    text = text[:a] + "\n" + body + "\n" + text[b:]
open(doc, "w").write(text)
EOF
echo "wrote $doc and $chart from $out"

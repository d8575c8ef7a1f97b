#!/usr/bin/env bash
# Smoke test of the real Windows program under Xvfb and wine64:
#   tests/win32/gui_smoke.sh BUILD_DIR
# BUILD_DIR is an x86_64 mingw build configured with -DKARVELIN_TRACE_HOOK=ON.
# The program starts on a frame named on its command line (in a folder with a
# space, so Wine passes it in quotes as Explorer does), logs its menu, status
# texts and window size to a trace file, and is driven with xdotool: 1/2 Size
# from the menu, the About box and the Open dialog opened and closed with Esc,
# Right to play, End and Ctrl+G (Go to Frame) to pause on a frame, Ctrl+I (Frame
# Info) opened and closed with Esc, q to quit; then --info with its output
# redirected.
# Every wait is bounded.
set -uo pipefail

build=$(cd "${1:?usage: gui_smoke.sh BUILD_DIR}" && pwd)
exe="$build/ui/win32/karvelin.exe"
fixture="$build/tests/win32/karvelin-win32-fixture.exe"
here=$(cd "$(dirname "$0")" && pwd)
wine_run="$here/../../scripts/wine-run.sh"
for f in "$exe" "$fixture"; do
    [ -f "$f" ] || { echo "gui_smoke: missing $f" >&2; exit 1; }
done

work="$build/gui-smoke"
rm -rf "$work"
mkdir -p "$work/seq dir"
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver_bin=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
wine64_bin=$(command -v wine64 || echo /usr/lib/wine/wine64)
winpath() { echo "Z:$(echo "$1" | tr '/' '\\')"; }

# Three 1920x1080 frames: at the initial 1/4 size the picture is 480x270.
KARVELIN_WINE_TIMEOUT=120 "$wine_run" "$fixture" "$(winpath "$work/seq dir")" clip_ 3 1920 1080 ||
    { echo "gui_smoke: cannot write the frames" >&2; exit 1; }
# Wine processes started without a display (the writer above, earlier tests)
# must be gone: a running session would create the window on no display.
timeout 30 "$wineserver_bin" -w || timeout 10 "$wineserver_bin" -k

trace="$work/trace.txt"
cat > "$work/session.sh" <<SESSION
#!/usr/bin/env bash
# Runs inside xvfb-run: start, drive and stop the program.
set -u
export KARVELIN_TRACE='$(winpath "$trace")'
wait_for() {  # wait_for PATTERN SECONDS: until the trace has a matching line
    for _ in \$(seq \$((\$2 * 10))); do
        grep -q -- "\$1" "$trace" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "gui_smoke: no trace line matching '\$1'" >&2
    return 1
}
timeout --kill-after=5 90 "$wine64_bin" "$exe" '$(winpath "$work/seq dir/clip_0001.dpx")' &
pid=\$!
ok=1
wid=\$(timeout 60 xdotool search --sync --name '^Karvelin\$' | head -1)
[ -n "\$wid" ] || { echo "gui_smoke: no window" >&2; ok=0; }
if [ \$ok = 1 ]; then
    wait_for '^paint clip_0001.dpx|Frame: 1/3|Step: 0 client 480x' 30 || ok=0
    sleep 0.5
    import -window root "$work/screen.png" || ok=0
    xdotool windowfocus --sync "\$wid"
    # Size > 1/2 Size through the menu's keyboard mnemonics.
    xdotool key --delay 200 alt+s h
    wait_for '^paint clip_0001.dpx|Frame: 1/3|Step: 0 client 960x' 20 || ok=0
    # Help > About, closed with Esc; File > Open, cancelled with Esc.
    xdotool key --delay 200 alt+h a
    sleep 1
    xdotool key Escape
    wait_for '^about 0\$' 20 || ok=0
    xdotool key --delay 200 alt+f o
    sleep 2
    xdotool key Escape
    wait_for '^open-dialog 0\$' 30 || ok=0
    xdotool windowfocus --sync "\$wid"
    xdotool key Right
    wait_for '|Step: +1 client 960x' 20 || ok=0
    # End pauses on the last frame and Home goes to the first (at least one of
    # them moves, whichever frame playback had reached); then Ctrl+G (the
    # accelerator) asks for frame 2.
    xdotool key End Home
    wait_for '^paint clip_0000.dpx|Frame: 0/3|Step: 0 ' 20 || ok=0
    xdotool key ctrl+g
    sleep 1
    xdotool type 2
    xdotool key Return
    wait_for '^goto 1\$' 20 || ok=0
    wait_for '^paint clip_0002.dpx|Frame: 2/3|Step: 0 ' 20 || ok=0
    # Ctrl+I (the accelerator) shows the Frame Info box, closed with Esc.
    xdotool windowfocus --sync "\$wid"
    xdotool key ctrl+i
    sleep 1
    xdotool key Escape
    wait_for '^frame-info 0\$' 20 || ok=0
    xdotool windowfocus --sync "\$wid"
    xdotool key q
fi
wait \$pid
code=\$?
echo "\$code" > "$work/exit-code"
timeout 20 "$wineserver_bin" -w || timeout 10 "$wineserver_bin" -k
[ \$ok = 1 ]
SESSION
chmod +x "$work/session.sh"

status=0
timeout --kill-after=10 180 xvfb-run -a -s "-screen 0 1280x1024x24" "$work/session.sh" || status=1
if [ $status -ne 0 ]; then
    timeout 10 "$wineserver_bin" -k 2>/dev/null || true
fi

fail() { echo "gui_smoke: FAIL: $*" >&2; status=1; }
[ -f "$trace" ] || { fail "no trace written"; exit 1; }

# The menu bar as loaded through the window class, with the window logic's
# marks (no --rate: the rate From File).
expected_menu='menu File(&F)
item 101 Open(&O)...
item 104 Go to Frame...'$'\t''Ctrl+G
item 107 Frame Info...'$'\t''Ctrl+I
item 105 Compare With...
item 106 Close Compare
item separator
item 102 Exit(&X)
menu Size(&S)
item 201 Original Size(&O)
item 202 1/2 Size(&H)
item 203 1/4 Size(&Q) [checked]
item 204 1/8 Size(&E)
menu Color(&C)
item 103 Convert to BT.709(&C)
item 110 Gamut Warning
item 111 Range Warning
menu Playback(&P)
item 301 Tick 16 ms
item 302 23.976
item 303 24
item 304 25
item 305 29.97
item 306 30
item 307 48
item 308 50
item 309 59.94
item 310 60
item 311 120
item 312 From File [checked]
item separator
item 320 Real Time [checked]
item 321 Every Frame
menu Compare
item 401 Show A'$'\t''A
item 402 Show B'$'\t''B
item 403 Toggle A/B'$'\t''T
item 404 Wipe'$'\t''W
item 405 Side by Side'$'\t''S
item 406 Difference'$'\t''D
item 407 Signed Difference'$'\t''Shift+D
item separator
item 410 Difference Gain x2'$'\t''G
item 411 Difference Gain /2'$'\t''Shift+G
item separator
item 412 B One Frame Later'$'\t'']
item 413 B One Frame Earlier'$'\t''[
item 414 No Offset'$'\t''0
menu View(&V)
item 501 Scopes
menu Help(&H)
item 901 About(&A)...'
[ "$(grep -E '^(menu|item) ' "$trace" | head -52)" = "$expected_menu" ] || fail "menu differs"

# The quoted command-line path opens the chosen frame (1), not the first (0);
# the client area is the picture plus the timeline strip and the status bar.
first=$(grep -m1 '^paint ' "$trace")
bar=$(echo "$first" | sed -n 's/.* bar \([0-9]*\) .*/\1/p')
[[ "$first" == "paint clip_0001.dpx|Frame: 1/3|Step: 0 client 480x$((270 + 12 + ${bar:-0})) bar $bar display 480x270 "* ]] ||
    fail "first paint: $first"
[ "${bar:-0}" -gt 0 ] || fail "no status bar height"
grep -q "^paint clip_0001.dpx|Frame: 1/3|Step: 0 client 960x$((540 + 12 + ${bar:-0})) bar $bar display 960x540 " "$trace" ||
    fail "1/2 Size did not refit the window to 960x540 plus the timeline and the status bar"
grep -qx 'about 0' "$trace" || fail "the About box did not open and close"
grep -qx 'open-dialog 0' "$trace" || fail "the Open dialog did not open and cancel"
grep -q '|Step: +1 client 960x' "$trace" || fail "Right did not start playback"
grep -q '^paint clip_0000.dpx|Frame: 0/3|Step: 0 ' "$trace" || fail "End and Home did not pause on frame 0"
grep -qx 'goto 1' "$trace" || fail "Ctrl+G did not open the Go to Frame dialog"
grep -q '^paint clip_0002.dpx|Frame: 2/3|Step: 0 ' "$trace" || fail "Go to Frame did not show frame 2"
grep -qx 'frame-info 0' "$trace" || fail "Ctrl+I did not open and close the Frame Info box"
grep -q '^error ' "$trace" && fail "error box: $(grep '^error ' "$trace")"
[ "$(tail -n1 "$trace")" = "exit 0" ] || fail "last trace line: $(tail -n1 "$trace")"
[ "$(cat "$work/exit-code" 2>/dev/null)" = 0 ] || fail "exit code $(cat "$work/exit-code" 2>/dev/null)"

# A picture on screen: the frames are a bright red ramp, the background is the
# gray brush and the root window is black.
origin=$(echo "$first" | sed -n 's/.* at \(-\?[0-9]*\),\(-\?[0-9]*\)$/\1 \2/p')
if [ -f "$work/screen.png" ] && [ -n "$origin" ]; then
    read -r ox oy <<<"$origin"
    for p in "10 10" "240 135" "470 260"; do
        read -r dx dy <<<"$p"
        px=$(convert "$work/screen.png" -format "%[pixel:p{$((ox + dx)),$((oy + dy))}]" info:)
        red=$(echo "$px" | sed -n 's/^srgba\?(\([0-9]*\),.*/\1/p')
        [ "${red:-0}" -ge 150 ] || fail "pixel $dx,$dy of the picture is $px"
    done
else
    fail "no screenshot or window origin"
fi

# --info with its output redirected, as a script runs it: the listing on
# standard output and exit 0; for a missing frame the reason and exit 1.
info="$work/info.txt"
timeout --kill-after=5 60 "$wine64_bin" "$exe" --info "$(winpath "$work/seq dir/clip_0001.dpx")" \
    >"$info" 2>"$work/info-errors.txt"
code=$?
[ $code = 0 ] || fail "--info exit code $code: $(cat "$work/info-errors.txt")"
grep -q '^size: 1920 x 1080' "$info" && grep -q '^descriptor: 50 (RGB)' "$info" ||
    fail "--info listing: $(head -c 400 "$info")"
timeout --kill-after=5 60 "$wine64_bin" "$exe" --info "$(winpath "$work/seq dir/none.dpx")" \
    >"$info" 2>"$work/info-errors.txt"
code=$?
[ $code = 1 ] && grep -q 'none.dpx: no such file' "$work/info-errors.txt" ||
    fail "--info of a missing frame: exit $code, $(cat "$work/info-errors.txt")"
timeout 20 "$wineserver_bin" -w || timeout 10 "$wineserver_bin" -k

if [ $status -eq 0 ]; then
    echo "gui_smoke: passed ($(grep -c '^paint ' "$trace") distinct paints)"
    rm -rf "$work/seq dir"
else
    echo "---- trace" >&2
    head -40 "$trace" >&2
fi
exit $status

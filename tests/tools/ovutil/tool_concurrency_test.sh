#!/bin/sh
# Concurrent writes of the installed `ovutil` tool to one file, as administrators' scripts run
# them side by side: every edit must survive, and every run must say whether it did.
# Usage: tool_concurrency_test.sh OVUTIL WORK_DIR
set -u
tool=$1
work=$2
rm -rf "$work" && mkdir -p "$work" || exit 1
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# run ARGS...: the tool with an empty environment in $work; a failed run is remembered.
run() {
    if ! (cd "$work" && env -i timeout 60 "$tool" "$@" >/dev/null 2>>"$work/errors"); then
        echo "failed: $*" >>"$work/failed"
    fi
}

# count FILE STANZA KEY: how many values the key holds.
count() {
    (cd "$work" && env -i "$tool" cfg get "$@") | wc -l
}

# --- two loops of 20 `cfg add` of one key side by side: 1 + 40 values. A reader beside them
# takes no lock and sees the old file or the new one: every read succeeds and no read sees
# fewer values than the one before.
printf '[s]\nk = first\n' >"$work/add.conf"
for loop in a b; do
    (for i in $(seq 1 20); do run cfg add add.conf s k "$loop$i"; done) &
done
(
    last=1
    for i in $(seq 1 40); do
        n=$( (cd "$work" && env -i "$tool" cfg get add.conf s k) | wc -l)
        [ "$n" -ge "$last" ] || echo "read $i saw $n values after $last" >>"$work/reads"
        last=$n
    done
) &
wait
[ ! -s "$work/reads" ] || fail "a reader saw a mixed or older file: $(cat "$work/reads")"
n=$(count add.conf s k)
[ "$n" -eq 41 ] || fail "2 x 20 concurrent cfg add kept $n of 41 values"

# --- 20 concurrent `cfg set` of distinct keys
printf '[s]\n' >"$work/set.conf"
for i in $(seq 1 20); do run cfg set set.conf s "key$i" "value$i" & done
wait
kept=0
for i in $(seq 1 20); do
    v=$( (cd "$work" && env -i "$tool" cfg get set.conf s "key$i") 2>/dev/null)
    [ "$v" = "value$i" ] && kept=$((kept + 1))
done
[ "$kept" -eq 20 ] || fail "20 concurrent cfg set of distinct keys kept $kept of 20"

# --- `cfg migrate` of a file of an earlier release while `cfg set` runs beside it: the
# upgrade and every set survive.
printf '[meta-info]\nversion = 1000\n[ovrte]\n' >"$work/old.conf"
run cfg migrate old.conf &
for i in $(seq 1 10); do run cfg set old.conf extra "key$i" "value$i" & done
wait
v=$( (cd "$work" && env -i "$tool" cfg get old.conf meta-info version) 2>/dev/null)
[ "$v" = "1552" ] || fail "the upgrade was lost beside concurrent sets: version '$v'"
kept=0
for i in $(seq 1 10); do
    v=$( (cd "$work" && env -i "$tool" cfg get old.conf extra "key$i") 2>/dev/null)
    [ "$v" = "value$i" ] && kept=$((kept + 1))
done
[ "$kept" -eq 10 ] || fail "10 sets beside a migrate kept $kept of 10"

# --- a writer that cannot take the lock in time fails, names the file and changes nothing.
# flock(1) holds the same kind of lock (flock(2) on the file) as a program would.
printf '[s]\nk = held\n' >"$work/held.conf"
flock "$work/held.conf" sleep 5 &
holder=$!
sleep 0.3
start=$(date +%s%N)
if (cd "$work" && env -i "$tool" cfg set --wait 0.5 held.conf s k new >/dev/null 2>"$work/held.err"); then
    fail "a set succeeded while another process held the edit lock"
fi
waited=$(( ($(date +%s%N) - start) / 1000000 ))
grep -q "0x35E51031: .*held.conf was not free within 500 ms" "$work/held.err" ||
    fail "the lock timeout is not reported with the file and the time: $(cat "$work/held.err")"
[ "$waited" -lt 4000 ] || fail "the set waited $waited ms for a lock it was told to wait 0.5 s for"
grep -q "k = held" "$work/held.conf" || fail "a set that could not take the lock changed the file"
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null
rm -f "$work/held.conf" "$work/held.err"

# --- a writer that waits longer than a second says so, naming the process that holds the
# lock, and its timeout names that process too.
printf '[s]\nk = held\n' >"$work/held.conf"
flock "$work/held.conf" sleep 5 &
holder=$!
sleep 0.3
if (cd "$work" && env -i "$tool" cfg set --wait 1.5 held.conf s k new >/dev/null 2>"$work/held.err"); then
    fail "a set succeeded while another process held the edit lock"
fi
grep -q "0x1354A222: Waiting for the edit lock of the file held.conf, held by process $holder\." "$work/held.err" ||
    fail "the wait does not name the holder $holder: $(cat "$work/held.err")"
grep -q "0x35E51031: .*held.conf was not free within 1500 ms.*(held by process $holder)" "$work/held.err" ||
    fail "the timeout does not name the holder $holder: $(cat "$work/held.err")"
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null
rm -f "$work/held.conf" "$work/held.err"

# Every run above exits 0: none failed, so none lost its edit without saying so.
if [ -s "$work/failed" ]; then
    fail "runs failed: $(cat "$work/failed") / $(cat "$work/errors")"
fi
# No lock debris beside the files.
extra=$(ls -A "$work" | grep -v -x -e add.conf -e set.conf -e old.conf -e errors -e reads)
[ -z "$extra" ] || fail "files left beside the edited ones: $extra"

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)" >&2
    exit 1
fi
echo "all concurrency cases passed"

#!/bin/sh
# The tool's cfg reads and writes beside `git config --file` on the same files: CPU time
# (perf's task-clock) of each process, paired runs one after the other, medians; the ratio is
# the tool's over git's. crudini, where it has the operation (it keeps one value per key, so
# it has no add), runs in the first five rounds (it takes seconds on the large file) on a copy
# of its own, as a further reference.
# Usage: cfg_vs_git.sh OVUTIL [RUNS]   (git, crudini and perf: `sh scripts/bootstrap bench`)
# Files: 22 lines (3 stanzas) and 101,918 lines (1,923 stanzas of 51 keys, 10.4 MB), in a
# temporary directory. Writes alternate between two values, so that every run of either
# program changes the file.
set -eu
tool=$(realpath "$1")
runs=${2:-31}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
if ! command -v git >/dev/null || ! command -v perf >/dev/null; then
    echo "cfg_vs_git: needs git and perf" >&2
    exit 2
fi
crudini=$(command -v crudini || true)

# make FILE STANZAS KEYS VALUE-LENGTH
make_file() {
    awk -v stanzas="$2" -v keys="$3" -v len="$4" 'BEGIN {
        pad = sprintf("%*s", len, ""); gsub(/ /, "x", pad)
        for (s = 0; s < stanzas; s++) {
            if (s) print ""
            printf "[component-%d]\n", s
            for (k = 0; k < keys; k++) printf "option-%d = value-%d-%d-%s\n", k, s, k, pad
        }
    }' >"$1"
}
make_file "$dir/small.conf" 3 6 20 # 3 headers, 18 keys, 2 blank lines: 22 lines
make_file "$dir/large.conf" 1923 51 80 # 101,918 lines
for size in small large; do
    cp "$dir/$size.conf" "$dir/$size.git"
    cp "$dir/$size.conf" "$dir/$size.crudini"
done

# cpu COMMAND...: the task-clock of one run in milliseconds; output discarded.
cpu() {
    perf stat -x, -e task-clock -o "$dir/perf" -- "$@" >/dev/null 2>"$dir/err" || {
        echo "cfg_vs_git: failed: $* ($(cat "$dir/err"))" >&2
        exit 1
    }
    awk -F, '/task-clock/ { print $1 }' "$dir/perf"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# compare NAME SIZE OVUTIL-ARGS GIT-ARGS [CRUDINI-ARGS]: the arguments are words without
# blanks; @F becomes the program's copy of the file, @V the value of the run (v1 or v2,
# alternating).
compare() {
    : >"$dir/ours" && : >"$dir/git" && : >"$dir/crudini"
    i=0
    while [ $i -lt "$runs" ]; do
        v=v$((i % 2 + 1))
        ours=$(echo "$3" | sed "s|@F|$dir/$2.conf|; s|@V|$v|")
        theirs=$(echo "$4" | sed "s|@F|$dir/$2.git|; s|@V|$v|")
        # shellcheck disable=SC2086
        cpu "$tool" $ours >>"$dir/ours"
        # shellcheck disable=SC2086
        cpu git $theirs >>"$dir/git"
        if [ -n "${5:-}" ] && [ -n "$crudini" ] && [ $i -lt 5 ]; then
            other=$(echo "$5" | sed "s|@F|$dir/$2.crudini|; s|@V|$v|")
            # shellcheck disable=SC2086
            cpu "$crudini" $other >>"$dir/crudini"
        fi
        i=$((i + 1))
    done
    o=$(median <"$dir/ours") g=$(median <"$dir/git")
    c=-
    [ -s "$dir/crudini" ] && c=$(median <"$dir/crudini")
    printf '%-5s %-6s ovutil %8.3f ms   git %8.3f ms   ratio %.2f   crudini %s ms\n' "$1" "$2" \
        "$o" "$g" "$(echo "$o $g" | awk '{ print $1 / $2 }')" "$c"
}

set -f
for size in small large; do
    compare get $size "cfg get @F component-2 option-3" "config --file @F component-2.option-3" \
        "--get @F component-2 option-3"
    compare set $size "cfg set @F component-2 option-3 @V" \
        "config --file @F component-2.option-3 @V" "--set @F component-2 option-3 @V"
    compare add $size "cfg add @F component-2 extra @V" "config --file @F --add component-2.extra @V"
    compare list $size "cfg list @F" "config --file @F --list" "--get --format=lines @F"
done

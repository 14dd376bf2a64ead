#!/bin/sh
# The manual agrees with the tool: every command of the installed tool's help has a synopsis
# line in the installed man page and a line in the README's tool section, every option of a
# command is described in the man page, and the page formats without a warning.
# Usage: manual_test.sh OVUTIL MAN_PAGE_GZ README
set -u
tool=$1
page=$2
readme=$3
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

[ -f "$page" ] || { echo "FAIL: no man page at $page" >&2; exit 1; }
man=$(gzip -dc "$page")
synopsis=$(printf '%s\n' "$man" | sed -n '/^\.SH SYNOPSIS/,/^\.SH /p' | sed 's/\\f[BIR]//g; s/\\-/-/g')
# The README's tool section: from its heading to the next one.
section=$(sed -n '/^## The `ovutil` tool/,/^## [^T]/p' "$readme")
[ -n "$section" ] || fail "README has no section on the ovutil tool"

# subcommands WORDS...: the sub-command names that `ovutil WORDS... --help` lists.
subcommands() {
    env -i "$tool" "$@" --help | sed -n '/^Subcommands:/,/^$/p' | sed -n 's/^  \([a-z0-9-]*\) .*/\1/p'
}

# options WORDS...: the long and short options that `ovutil WORDS... --help` lists, but help
# (a flag's default value in braces left out).
options() {
    env -i "$tool" "$@" --help | sed -n '/^Options:/,/^$/p' |
        sed -n 's/^  \(-[^ ]*\).*/\1/p' | tr ',' '\n' | sed 's/{.*//' |
        grep -v -e '^-h$' -e '^--help$'
}

# names TEXT WORDS...: whether TEXT shows the command "ovutil WORDS...", where a word may
# stand among alternatives ("ovutil b64 encode|decode", "ovutil cfg set|add").
names() {
    text=$1
    shift
    pattern="ovutil"
    for w in "$@"; do pattern="$pattern ([a-z0-9-]+\\|)*$w(\\|[a-z0-9-]+)*"; done
    printf '%s\n' "$text" | grep -Eq "$pattern( |\$)"
}

# check WORDS...: a command path and everything below it.
check() {
    subs=$(subcommands "$@")
    if [ -z "$subs" ]; then
        names "$synopsis" "$@" || fail "no synopsis of 'ovutil $*' in the man page"
        names "$section" "$@" || fail "README's tool section lacks 'ovutil $*'"
        for opt in $(options "$@"); do
            escaped=$(printf '%s' "$opt" | sed 's/-/\\-/g')
            case $man in *"$escaped"*) ;; *) fail "the man page does not describe $opt of 'ovutil $*'" ;; esac
        done
        return
    fi
    for sub in $subs; do check "$@" "$sub"; done
}

check

for heading in NAME SYNOPSIS DESCRIPTION EXAMPLES "EXIT STATUS" ENVIRONMENT FILES "THE FILE FORMAT"; do
    printf '%s\n' "$man" | grep -q "^\.SH \"*$heading\"*\$" || fail "the man page has no section $heading"
done
for word in OV_SVC_ROUTE_ OV_SVC_DEBUG NLSPATH resourcepassword pwd password server_pwd; do
    case $man in *"$word"*) ;; *) fail "the man page does not mention $word" ;; esac
done

if command -v groff >/dev/null 2>&1; then
    warnings=$(printf '%s\n' "$man" | LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z 2>&1)
    [ -z "$warnings" ] || fail "groff warns about the man page: $warnings"
else
    echo "manual_test: groff is not installed; the formatting check is skipped" >&2
fi

if [ "$failures" -ne 0 ]; then
    echo "manual_test: $failures failed" >&2
    exit 1
fi
echo "manual_test: all passed"

#!/usr/bin/env bash
# The man page must not fall behind the program: every command and every
# long option that korvalctl's help shows has to be in it.
#   manpage.sh <korvalctl> <man page>
set -euo pipefail
ctl=$1 page=$2
# roff writes a dash in an option as \-
text=$(sed 's/\\-/-/g' "$page")
# The commands a help lists: two blanks, a lower-case word.
commands_of() { sed -n '/^Příkazy:/,/^$/p' | awk '/^  [a-z]/{print $1}'; }
help=$("$ctl" --help)
# Every command's own help, and that of its subcommands (config show).
for c in $(commands_of <<<"$help"); do
    sub=$("$ctl" "$c" --help)
    help+=$'\n'$sub
    for s in $(commands_of <<<"$sub"); do
        help+=$'\n'$("$ctl" "$c" "$s" --help)
    done
done
missing=0
# The commands the main help lists (two-blank indent, a lower-case word),
# each a heading of the page's list.
for c in $(commands_of <<<"$help" | sort -u); do
    grep -qE "^\.BI? \"?([a-z]+ )?$c\b" <<<"$text" || { echo "command not in the man page: $c"; missing=1; }
done
for o in $(grep -oE -- '--[a-z][a-z-]+' <<<"$help" | sort -u); do
    grep -qE -- "(^|[^a-z-])$o([^a-z-]|$)" <<<"$text" || { echo "option not in the man page: $o"; missing=1; }
done
# The exit codes the help names.
for code in $(sed -n '/^Návratové kódy:/,/^$/p' <<<"$help" | awk '/^  [0-9]/{print $1}'); do
    grep -qx "\.B $code" <<<"$text" || { echo "exit code not in the man page: $code"; missing=1; }
done
[ "$missing" -eq 0 ] && echo "man page covers $(grep -oE -- '--[a-z][a-z-]+' <<<"$help" | sort -u | wc -l) options"
exit "$missing"

#!/usr/bin/env bash
# Fails when any ELF file under the given files and directories carries an
# empty or relative RPATH/RUNPATH entry: the loader resolves those against
# the current directory, so whoever controls that directory could put a
# library into the program. Absolute and $ORIGIN entries pass.
#   bash scripts/check-runpath.sh build/bin /usr/lib/korval/W_korval
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 FILE|DIR..." >&2; exit 2; }
command -v readelf >/dev/null || { echo "$0: readelf (binutils) is missing" >&2; exit 2; }

checked=0
bad=0
while IFS= read -r -d '' f; do
    [ "$(head -c 4 "$f" 2>/dev/null | od -An -c | tr -d ' ')" = '177ELF' ] || continue
    checked=$((checked + 1))
    # "Library runpath: [a:b]" for each DT_RPATH and DT_RUNPATH entry.
    while IFS= read -r path; do
        # A trailing empty entry must survive the split, so it gets an end mark.
        IFS=: read -r -a entries <<<"$path:#"
        wrong=()
        for e in "${entries[@]:0:${#entries[@]}-1}"; do
            case $e in
            /* | '$ORIGIN' | '$ORIGIN/'* | '${ORIGIN}' | '${ORIGIN}/'*) ;;
            *) wrong+=("'$e'") ;;
            esac
        done
        if [ ${#wrong[@]} -gt 0 ]; then
            echo "$f: run path [$path] has ${#wrong[@]} empty or relative entries: ${wrong[*]}"
            bad=$((bad + ${#wrong[@]}))
        fi
    done < <(readelf -d "$f" 2>/dev/null | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*: \[\(.*\)\]$/\2/p')
done < <(find "$@" -type f -print0)

# Finding nothing to check is a mistake in the caller, not a pass.
[ "$checked" -gt 0 ] || { echo "$0: no ELF files in $*" >&2; exit 1; }
echo "run paths: $checked ELF files checked, $bad bad entries"
[ "$bad" -eq 0 ]

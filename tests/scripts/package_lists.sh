#!/usr/bin/env bash
# scripts/test.sh installs ALL_PACKAGES before its steps run side by side;
# a step that then finds a package missing would run apt beside another
# step's apt, and both fail on dpkg's lock. So: every package any script
# asks for is in ALL_PACKAGES, every list of scripts/deps.sh is in it,
# test.sh installs it before anything runs at once, and no script runs apt
# or dpkg by itself.
#   package_lists.sh SOURCE_DIR
set -euo pipefail
cd "$1"
. scripts/deps.sh
declare -A all=()
for p in "${ALL_PACKAGES[@]}"; do all[$p]=1; done
bad=0
complain() { echo "$*"; bad=1; }

for list in $(compgen -A variable | grep '_PACKAGES$'); do
    declare -n names=$list
    for p in "${names[@]}"; do
        [ -n "${all[$p]:-}" ] || complain "scripts/deps.sh: $p of $list is not in ALL_PACKAGES"
    done
    unset -n names
done

scripts=$(git ls-files --cached --others --exclude-standard '*.sh' 2>/dev/null ||
    find . -name '*.sh' -not -path './build*' | sed 's|^\./||')
for f in $scripts; do
    # Each call's arguments as the script would pass them.
    while IFS=: read -r line call; do
        args=$(sed -E 's/^.*ensure_packages[[:space:]]+//; s/[;&|#].*$//' <<<"$call")
        eval "set -- $args"
        for p in "$@"; do
            [ -n "${all[$p]:-}" ] || complain "$f:$line: $p is not in ALL_PACKAGES (scripts/deps.sh)"
        done
    done < <(grep -nE '(^|[;&|[:space:]])ensure_packages[[:space:]]' "$f" | grep -v '^[0-9]*:[[:space:]]*#' || true)

    [ "$f" = scripts/deps.sh ] && continue
    # Comments aside, nothing but deps.sh runs apt or dpkg (dpkg-deb and
    # dpkg-query only read).
    sed -E 's/(^|[[:space:]])#.*$//' "$f" | grep -nE '(^|[^[:alnum:]_-])(apt|apt-get|aptitude|dpkg)([[:space:]]|$)' |
        sed "s|^|$f:|" | while read -r hit; do echo "calls the package manager outside scripts/deps.sh: $hit"; done |
        grep . && bad=1
done

# test.sh: everything installed before the first step that runs others
# beside it.
install=$(grep -n 'ensure_packages "${ALL_PACKAGES\[@\]}"' scripts/test.sh | cut -d: -f1 | head -1 || true)
parallel=$(grep -nE '^[[:space:]]*(step[[:space:]]+)?together[[:space:]]' scripts/test.sh | cut -d: -f1 | head -1 || true)
[ -n "$install" ] || complain "scripts/test.sh does not install ALL_PACKAGES"
[ -z "$install" ] || [ -z "$parallel" ] || [ "$install" -lt "$parallel" ] ||
    complain "scripts/test.sh installs ALL_PACKAGES only after line $parallel starts steps side by side"

[ "$bad" -eq 0 ] && echo "package lists: every script's packages are installed first by scripts/test.sh"
exit "$bad"

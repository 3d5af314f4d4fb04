#!/usr/bin/env bash
# Fails when a source file includes a header from a higher layer. The order is
# written once, here: util < platform < config < log < console < backend <
# script < servers = xfer < app < the faces (platform/qt, platform/cli).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../src"
status=0
layer() {   # path relative to src/ -> rank, empty when outside the layers
    case "$1" in
        platform/qt/*|platform/cli/*) echo 9 ;;
        util/*) echo 0 ;; platform/*) echo 1 ;; config/*) echo 2 ;; log/*) echo 3 ;;
        console/*) echo 4 ;; backend/*) echo 5 ;; script/*) echo 6 ;;
        servers/*|xfer/*) echo 7 ;; app/*) echo 8 ;; *) echo "" ;;
    esac
}
while IFS= read -r -d '' file; do
    me=$(layer "$file")
    [ -n "$me" ] || continue
    while IFS=: read -r line header; do
        them=$(layer "$header")
        if [ -n "$them" ] && [ "$them" -gt "$me" ]; then
            echo "$file:$line includes $header (a higher layer)"
            status=1
        fi
    done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
             sed 's/^\([0-9]*\):.*"\([^"]*\)".*/\1:\2/')
done < <(find . -name '*.cpp' -o -name '*.h' | sed 's|^\./||' | tr '\n' '\0')
[ $status -eq 0 ] && echo "layers: every include points down"
exit $status

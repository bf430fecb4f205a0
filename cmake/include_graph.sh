#!/bin/sh
# Checks the include graph of the core and the tool. A module is a header with its source
# (ovcore/message.h and .cpp); no two modules may include each other, directly or through
# others. The tool's folders follow the run's order, and a folder includes only folders below
# it: model, input, faces, kerning, packing, output, export, then the run itself
# (tools/font_generator/*.cpp). The stages after input take plain data: none of them includes
# the configuration's unit types (input/configuration.h). Prints every offence and fails;
# with --all it also prints the tool's folder graph.
#   sh cmake/include_graph.sh [--all] [source directory]
set -eu
all=0
if [ "${1:-}" = "--all" ]; then all=1; shift; fi
cd "${1:-$(dirname "$0")/..}"
bad=0

stage_includes=$(grep -rHn --include='*.h' --include='*.cpp' \
    -e '^#include "tools/font_generator/generator.h"' \
    -e '^#include "tools/font_generator/input/configuration.h"' \
    tools/font_generator/model tools/font_generator/faces tools/font_generator/kerning \
    tools/font_generator/packing tools/font_generator/output tools/font_generator/export \
    2>/dev/null || true)
if [ -n "$stage_includes" ]; then
    echo "a stage includes the run or the configuration:"
    echo "$stage_includes"
    bad=1
fi

# The tool's folders in the run's order; the run itself sits on top.
order="model input faces kerning packing output export"
rank() {  # rank <folder under tools/font_generator, or "" for the run>
    r=0
    for folder in $order; do
        [ "$folder" = "$1" ] && { echo $r; return; }
        r=$((r + 1))
    done
    echo $r
}
order_offences=$(mktemp)
folder_edges=$(grep -rHo --include='*.h' --include='*.cpp' '^#include "tools/font_generator/[^"]*"' \
    tools/font_generator |
    sed 's|^tools/font_generator/\(.*\):#include "tools/font_generator/\(.*\)"$|\1 \2|' |
    awk '{ a = $1; b = $2
           if (a ~ /\//) sub(/\/.*$/, "", a); else a = ""
           if (b ~ /\//) sub(/\/.*$/, "", b); else b = ""
           if (a != b) print (a == "" ? "." : a), (b == "" ? "." : b) }' | sort -u)
if [ "$all" -eq 1 ]; then
    echo "the tool's folders (from -> to):"
    echo "$folder_edges" | sed 's/^/  /'
fi
echo "$folder_edges" | while read -r from to; do
    [ -n "$from" ] || continue
    f=$from; t=$to
    [ "$f" = "." ] && f=""
    [ "$t" = "." ] && t=""
    if [ "$(rank "$t")" -gt "$(rank "$f")" ]; then
        echo "include against the folders' order: tools/font_generator/$from includes tools/font_generator/$to"
        grep -rln --include='*.h' --include='*.cpp' "^#include \"tools/font_generator/$to/" \
            "tools/font_generator/$from" 2>/dev/null | sed 's/^/    /' || true
        echo x
    fi
done > "$order_offences"
if grep -q . "$order_offences"; then
    grep -v "^x$" "$order_offences"
    bad=1
fi
rm -f "$order_offences"

grep -rHo --include='*.h' --include='*.cpp' '^#include "[^"]*"' ovcore tools |
    sed 's|^\(.*\)\.[a-z]*:#include "\(.*\)\.[a-z]*"$|\1 \2|' |
    awk '
    $1 != $2 { node[$1] = 1; node[$2] = 1; if (!(($1, $2) in edge)) { edge[$1, $2] = 1; out[$1] = out[$1] " " $2 } }
    END {
        # Reachability from every module, depth first with an explicit stack.
        for (m in node) {
            top = 0; stack[++top] = m
            while (top > 0) {
                v = stack[top--]
                n = split(out[v], next_modules, " ")
                for (i = 1; i <= n; ++i) {
                    w = next_modules[i]
                    if (!((m, w) in reach)) { reach[m, w] = 1; stack[++top] = w }
                }
            }
        }
        circles = 0
        for (key in reach) {
            split(key, pair, SUBSEP)
            if (pair[1] >= pair[2] || !((pair[2], pair[1]) in reach))
                continue
            print "include circle: " pair[1] " <-> " pair[2]
            circles = 1
        }
        if (circles) exit 1
    }' || bad=1

if [ "$bad" -ne 0 ]; then
    exit 1
fi
echo "no include circle, and the tool's folders keep their order"

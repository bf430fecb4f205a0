#!/bin/sh
# Checks the include graph of the core and the tool. A module is a header with its source
# (ovcore/message.h and .cpp); modules of one folder may include each other in a circle, but
# no circle may pass through two folders. Prints every such pair of modules and fails; with
# --all it also lists the circles within folders. The tool's stages (its folders faces/,
# kerning/, packing/, output/ and export/) take plain data: none of them may include the run
# (generator.h) or the configuration's unit types (input/configuration.h).
#   sh cmake/include_graph.sh [--all] [source directory]
set -eu
all=0
if [ "${1:-}" = "--all" ]; then all=1; shift; fi
cd "${1:-$(dirname "$0")/..}"
stage_includes=$(grep -rHn --include='*.h' --include='*.cpp' \
    -e '^#include "tools/font_generator/generator.h"' \
    -e '^#include "tools/font_generator/input/configuration.h"' \
    tools/font_generator/faces tools/font_generator/kerning tools/font_generator/packing \
    tools/font_generator/output tools/font_generator/export 2>/dev/null || true)
if [ -n "$stage_includes" ]; then
    echo "a stage includes the run or the configuration:"
    echo "$stage_includes"
    exit 1
fi
grep -rHo --include='*.h' --include='*.cpp' '^#include "[^"]*"' ovcore tools |
    sed 's|^\(.*\)\.[a-z]*:#include "\(.*\)\.[a-z]*"$|\1 \2|' |
    awk -v all="$all" '
    function folder(module) { sub(/\/[^\/]*$/, "", module); return module }
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
        bad = 0
        for (key in reach) {
            split(key, pair, SUBSEP)
            if (pair[1] >= pair[2] || !((pair[2], pair[1]) in reach))
                continue
            if (folder(pair[1]) != folder(pair[2])) {
                print "include circle across folders: " pair[1] " <-> " pair[2]
                bad = 1
            } else if (all)
                print "include circle within a folder: " pair[1] " <-> " pair[2]
        }
        if (bad) exit 1
        print "no include circle across folders"
    }'

#!/usr/bin/env bash
# Checks that the quoted includes under src/ point down the layers and form no cycle.
#   bash tools/check-includes.sh [ROOT]     ROOT holds src/ (default: this repository)
# Layers, top to bottom: forms (a file that includes Qt, `#include <Q...>`, or lies under
# src/platform/qt/), then app/Core, then the subsystem classes (everything else), then the shared
# model below (src/model/). A subsystem class outside src/app/ includes nothing from src/app/:
# the folders depend on each other one way. The settings forms (src/settings/) include nothing of
# src/app/: they reach the program through the model's interfaces. The analysis (src/analysis/) includes nothing of
# src/playback/ but the engine: the automix uses the analysis, not the other way round. X.h and X.cpp are one node: a class is a form when either of its files is, and the
# cycle search walks classes, not files. Includes that name no file under src/ (system headers,
# generated headers) are not followed.
# Prints one "FILE:LINE: ..." line per problem and exits 1 when there is any.
set -euo pipefail


root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"
[ -d src ] || { echo "check-includes: no src/ folder in $root" >&2; exit 2; }

list=$(mktemp)
trap 'rm -f "$list"' EXIT
find src -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.cc' \) | LC_ALL=C sort >"$list"
[ -s "$list" ] || { echo "check-includes: no sources under $root/src" >&2; exit 2; }

# shellcheck disable=SC2046  # one argument per file name; the names have no blanks
LC_ALL=C awk -v listfile="$list" '
function node(p) { sub(/\.(h|hpp|cpp|cc)$/, "", p); return p }
function dirname(p) { if (p !~ /\//) return ""; sub(/\/[^\/]*$/, "", p); return p }
# Folds "a/./b" and "a/x/../b" into "a/b".
function normal(p,   parts, n, i, out, k, r) {
    n = split(p, parts, "/"); k = 0
    for (i = 1; i <= n; i++) {
        if (parts[i] == "" || parts[i] == ".") continue
        if (parts[i] == ".." && k > 0 && out[k] != "..") { k--; continue }
        out[++k] = parts[i]
    }
    r = ""
    for (i = 1; i <= k; i++) r = r (i > 1 ? "/" : "") out[i]
    return r
}
# The file under src/ that an include names: beside the including file first, then from src/.
function resolve(from, name,   p) {
    p = normal(dirname(from) "/" name); if (p in known) return p
    p = normal("src/" name); if (p in known) return p
    return ""
}
function layername(l) { return l == 3 ? "form" : l == 2 ? "Core" : l == 1 ? "subsystem" : "shared model" }
function problem(where, text) { print where ": " text; ++problems }
# Depth-first search over the class graph; a grey neighbour closes a cycle.
function visit(v,   i, w, j, text) {
    colour[v] = 1; stack[++depth] = v; onstack[v] = depth
    for (i = 1; i <= adjn[v]; i++) {
        w = adj[v, i]
        if (colour[w] == 1) {
            text = "include cycle:"
            for (j = onstack[w]; j <= depth; j++) text = text " " stack[j] " ->"
            text = text " " w " (via"
            for (j = onstack[w]; j < depth; j++) text = text " " edgeat[stack[j], stack[j + 1]] ","
            text = text " " edgeat[v, w] ")"
            problem(edgeat[v, w], text)
        } else if (colour[w] == 0) {
            visit(w)
        }
    }
    colour[v] = 2; delete onstack[v]; depth--
}
FILENAME == listfile { known[$0] = 1; files[++nfiles] = $0; next }
/^[ \t]*#[ \t]*include[ \t]*<Q/ { qt[node(FILENAME)] = 1 }
/^[ \t]*#[ \t]*include[ \t]*"/ {
    name = $0; sub(/^[^"]*"/, "", name); sub(/".*$/, "", name)
    ++nedges; efrom[nedges] = FILENAME; eline[nedges] = FNR; ename[nedges] = name
}
END {
    for (i = 1; i <= nfiles; i++) {
        f = files[i]; v = node(f)
        if (v in qt || f ~ /^src\/platform\/qt\//) layer[v] = 3
        else if (v == "src/app/Core") layer[v] = 2
        else if (f ~ /^src\/model\//) layer[v] = 0
        else layer[v] = 1
        nodes[v] = 1
    }
    for (e = 1; e <= nedges; e++) {
        f = efrom[e]; t = resolve(f, ename[e])
        if (t == "") continue
        where = f ":" eline[e]; v = node(f); w = node(t)
        if (layer[v] != 3 && layer[w] == 3)
            problem(where, "includes \"" ename[e] "\", a form file, from a " layername(layer[v]) " file (only forms include forms)")
        else if (f ~ /^src\/settings\// && t ~ /^src\/app\//)
            problem(where, "includes \"" ename[e] "\" from the settings, which reach the program through the model'"'"'s interfaces")
        else if (t == "src/app/Core.h" && layer[v] != 3 && f != "src/app/Core.cpp")
            problem(where, "includes \"" ename[e] "\" from a " layername(layer[v]) " file (only forms and Core.cpp include Core.h)")
        else if (layer[v] == 1 && f !~ /^src\/app\// && t ~ /^src\/app\//)
            problem(where, "includes \"" ename[e] "\" from a subsystem file outside app/ (the folders depend one way)")
        else if (f ~ /^src\/analysis\// && t ~ /^src\/playback\// && t !~ /^src\/playback\/engine\//)
            problem(where, "includes \"" ename[e] "\" from the analysis, which stands below the automix (only the engine is below it)")
        else if (layer[v] == 0 && layer[w] != 0)
            problem(where, "includes \"" ename[e] "\", a " layername(layer[w]) " file, from the shared model (which includes only itself)")
        if (v != w && !((v, w) in edgeat)) { edgeat[v, w] = where; adj[v, ++adjn[v]] = w }
    }
    # Visit the classes in name order, so the report reads the same from run to run.
    for (i = 1; i <= nfiles; i++) { v = node(files[i]); if (colour[v] == 0) visit(v) }
    if (problems) { printf "check-includes: %d problem(s) in %d files\n", problems, nfiles; exit 1 }
    printf "check-includes: ok (%d files)\n", nfiles
}
' "$list" $(cat "$list")

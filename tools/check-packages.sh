#!/usr/bin/env bash
# Checks that every system file a configured (and built) tree used comes from a Debian package of
# the set-up's list, or from a package that one of them depends on. A green build on a machine
# that happens to have more installed would otherwise hide a missing entry in the list.
#   bash tools/check-packages.sh BUILD_DIR [PACKAGE...]   (default: the list in tools/setup.sh)
# The files: the package configuration files of every *_DIR entry of CMakeCache.txt, the other
# files the cache names (tools, libraries found), the .pc files pkg-config resolved with their
# Requires and Requires.private chains, and the system headers the compile read (ninja's deps log,
# when the tree was built). Works offline: it reads dpkg's database only.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR [PACKAGE...]" >&2; exit 2; }
build=$(cd "$1" && pwd); shift
cache="$build/CMakeCache.txt"
[ -f "$cache" ] || { echo "check-packages: $cache not found: configure first" >&2; exit 2; }
if [ $# -gt 0 ]; then listed=("$@"); else mapfile -t listed < <(bash "$here/setup.sh" packages); fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
used="$work/used"  # PATH <tab> why it was used
: >"$used"

# The cache's entries, NAME <tab> TYPE <tab> VALUE.
sed -n 's/^\([^#/][^:=]*\):\([A-Z]*\)=\(.*\)$/\1\t\2\t\3/p' "$cache" >"$work/cache"
outside() { case "$1" in "$root"/* | "$build"/* | *-NOTFOUND | "") return 1 ;; esac; [ "${1:0:1}" = / ]; }

# Package configuration folders: the config files in them, or the folder itself (find_path).
while IFS=$'\t' read -r name type value; do
  [ "$type" = PATH ] && [[ $name == *_DIR ]] && outside "$value" && [ -d "$value" ] || continue
  configs=$(find "$value" -maxdepth 1 \( -name '*Config.cmake' -o -name '*-config.cmake' \) | sort)
  [ -n "$configs" ] || configs=$value
  while read -r f; do printf '%s\t%s in CMakeCache.txt\n' "$f" "$name"; done <<<"$configs" >>"$used"
done <"$work/cache"

# The tools the cache names (compilers, ninja, pkg-config). Libraries that a find module found
# but nothing links (GLU, say) do not count: the link lines below tell what is used.
while IFS=$'\t' read -r name type value; do
  [ "$type" = FILEPATH ] && [[ $name == CMAKE_* || $name == *_EXECUTABLE ]] && outside "$value" && [ -e "$value" ] || continue
  printf '%s\t%s in CMakeCache.txt\n' "$value" "$name" >>"$used"
done <"$work/cache"

# The libraries the links use, as the generated build names them.
if [ -f "$build/build.ninja" ]; then
  grep -h '^ *LINK_LIBRARIES = ' "$build/build.ninja" | tr ' ' '\n' | grep '^/' | sort -u | while read -r f; do
    if outside "$f" && [ -e "$f" ]; then printf '%s\tlinked\n' "$f"; fi
  done >>"$used"
fi

# pkg-config modules that a pkg_check_modules call found, and everything they require.
pkgconfig=$(awk -F'\t' '$1 == "PKG_CONFIG_EXECUTABLE" { print $3 }' "$work/cache")
modules=()
while IFS=$'\t' read -r name type value; do
  prefix=${name#__pkg_config_arguments_}
  [ "$name" != "$prefix" ] || continue
  grep -q "^${prefix}_FOUND"$'\t'"INTERNAL"$'\t'"1$" "$work/cache" || continue
  IFS=';' read -r -a words <<<"$value"
  for w in "${words[@]}"; do
    case "$w" in REQUIRED | QUIET | IMPORTED_TARGET | GLOBAL | NO_CMAKE_PATH | NO_CMAKE_ENVIRONMENT_PATH | "") continue ;; esac
    modules+=("${w%%[<>=]*}")
  done
done <"$work/cache"
if [ ${#modules[@]} -gt 0 ]; then
  [ -x "$pkgconfig" ] || { echo "check-packages: pkg-config ($pkgconfig) is missing" >&2; exit 1; }
  declare -A seen=()
  queue=("${modules[@]}")
  while [ ${#queue[@]} -gt 0 ]; do
    m=${queue[0]}; queue=("${queue[@]:1}")
    [ -z "${seen[$m]:-}" ] || continue
    seen[$m]=1
    pc=$("$pkgconfig" --path "$m" 2>/dev/null) || { printf 'check-packages: pkg-config finds no module %s\n' "$m" >&2; exit 1; }
    printf '%s\tpkg-config module %s\n' "$pc" "$m" >>"$used"
    while read -r r _; do
      [ -n "$r" ] && queue+=("$r")
    done < <("$pkgconfig" --print-requires "$m" 2>/dev/null; "$pkgconfig" --print-requires-private "$m" 2>/dev/null)
  done
fi

# System headers the compile read.
headers=0
if [ -f "$build/.ninja_deps" ] && command -v ninja >/dev/null; then
  ninja -C "$build" -t deps 2>/dev/null | awk '/^ +\// { print $1 }' | sort -u | while read -r f; do
    if outside "$f"; then printf "%s\theader of the compile\n" "$f"; fi
  done >>"$work/headers"
  headers=$(wc -l <"$work/headers")
  cat "$work/headers" >>"$used"
fi
sort -t$'\t' -k1,1 -u "$used" -o "$used"

# Owners, as dpkg -S gives them. A path may be known to dpkg by another spelling: through its
# symbolic links, or under /lib rather than /usr/lib (merged /usr).
cut -f1 "$used" >"$work/paths"
owners() {  # paths on stdin -> "package[, package]<tab>path" lines
  xargs -r -d '\n' dpkg-query -S 2>/dev/null | awk '
    /^diversion by / { next }
    { i = index($0, ": "); pk = substr($0, 1, i - 1); p = substr($0, i + 2)
      n = split(pk, a, /, /); s = ""
      for (k = 1; k <= n; k++) { sub(/:.*/, "", a[k]); s = s (k > 1 ? " " : "") a[k] }
      print s "\t" p }' || true
}
owners <"$work/paths" >"$work/owned"
cut -f2 "$work/owned" | sort -u >"$work/found"
LC_ALL=C sort -u "$work/paths" | LC_ALL=C comm -23 - <(LC_ALL=C sort -u "$work/found") >"$work/unfound"
: >"$work/alias"  # spelling <tab> path
while read -r p; do
  r=$(readlink -f "$p" 2>/dev/null || true)
  for s in "$p" "$r"; do
    case "$s" in /usr/*) s=${s#/usr} ;; /*) s=/usr$s ;; *) continue ;; esac
    printf "%s\t%s\n" "$s" "$p"
  done
  [ -z "$r" ] || [ "$r" = "$p" ] || printf "%s\t%s\n" "$r" "$p"
done <"$work/unfound" | sort -u >"$work/alias"
cut -f1 "$work/alias" | owners | awk -F'\t' 'NR == FNR { alias[$1] = alias[$1] " " $2; next }
  ($2 in alias) { n = split(alias[$2], a, " "); for (i = 1; i <= n; i++) print $1 "\t" a[i] }' \
  "$work/alias" - >>"$work/owned"

# The listed packages and everything they depend on, through dpkg's Depends and Pre-Depends of
# the installed packages; a virtual name counts through any installed package that provides it.
printf '%s\n' "${listed[@]}" >"$work/listed"
dpkg-query -W -f='${db:Status-Status}\t${Package}\t${Depends}, ${Pre-Depends}\t${Provides}\n' 2>/dev/null |
  awk -F'\t' '$1 == "installed"' >"$work/installed"
awk -F'\t' -v listedfile="$work/listed" -v usedfile="$used" -v ownedfile="$work/owned" -v headers="$headers" '
function names(s, out,   n, a, i, k) {  # "a (>= 1) | b:any, c" -> out[1..k] = a b c
    gsub(/\([^)]*\)/, "", s); gsub(/\[[^]]*\]/, "", s); gsub(/<[^>]*>/, "", s); gsub(/[|,]/, " ", s)
    n = split(s, a, " "); k = 0
    for (i = 1; i <= n; i++) { sub(/:.*/, "", a[i]); if (a[i] != "") out[++k] = a[i] }
    return k
}
FILENAME == listedfile { if ($0 != "" && !($0 in want)) { want[$0] = 1; nwant++ }; next }
FILENAME == usedfile { why[$1] = $2; order[++nused] = $1; next }
FILENAME == ownedfile { own[$2] = own[$2] " " $1; next }
{
    installed[$2] = 1; dep[$2] = $3
    k = names($4, pv); for (i = 1; i <= k; i++) provider[pv[i]] = provider[pv[i]] " " $2
}
END {
    for (p in want) if (!(p in installed)) { printf "check-packages: %s, in the package list, is not installed\n", p; bad = 1 }
    # Closure over Depends, alternatives and providers included.
    n = 0
    for (p in want) if (p in installed) { inset[p] = 1; queue[++n] = p }
    for (q = 1; q <= n; q++) {
        k = names(dep[queue[q]], d)
        for (i = 1; i <= k; i++) {
            cand = d[i] (d[i] in provider ? provider[d[i]] : "")
            m = split(cand, c, " ")
            for (j = 1; j <= m; j++) if (c[j] in installed && !(c[j] in inset)) { inset[c[j]] = 1; queue[++n] = c[j] }
        }
    }
    for (u = 1; u <= nused; u++) {
        f = order[u]
        if (!(f in own)) { printf "check-packages: %s (%s) belongs to no Debian package (installed by hand?)\n", f, why[f]; bad = 1; continue }
        m = split(own[f], c, " "); ok = 0
        for (j = 1; j <= m; j++) if (c[j] in inset) ok = 1
        if (ok) continue
        pk = c[1]; for (j = 2; j <= m; j++) pk = pk " or " c[j]
        if (!(pk in count)) missing[++nmissing] = pk
        if (++count[pk] <= 5) gives[pk] = gives[pk] "\n    " f " (" why[f] ")"
    }
    for (i = 1; i <= nmissing; i++) {
        pk = missing[i]
        printf "check-packages: missing from the package list: %s, which gives what the build used:%s%s\n", pk, gives[pk], (count[pk] > 5 ? "\n    and " count[pk] - 5 " more file(s)" : "")
        bad = 1
    }
    if (bad) exit 1
    printf "check-packages: ok: %d files (%d headers) from %d listed packages and %d dependencies\n", nused, headers, nwant, n - nwant
}' "$work/listed" "$used" "$work/owned" "$work/installed"

#!/usr/bin/env bash
# Fetches zstd's own sources, Debian's source package libzstd, unpacked into
# DEST (the Windows trees build their decoder from them; nothing of zstd is
# kept in this repository). Does nothing when DEST holds them already.
#
# apt needs a deb-src entry for that: when none is there, one is written for
# the main component of the release itself, taken from the entries apt already
# has (same address and key, so no host is named here; the pockets, -updates and
# -security, are left out: their mirrors need not carry sources), and the
# indexes are updated once.
# Usage: scripts/zstd-source.sh DEST
set -uo pipefail

package=libzstd
say() { echo "zstd-source: $*" >&2; }

if [ $# != 1 ]; then
  echo "usage: $0 DEST" >&2
  exit 2
fi
dest=$1
if [ -f "$dest/lib/zstd.h" ] && [ -d "$dest/lib/decompress" ]; then
  exit 0
fi

eval "$(apt-config shell sources_list Dir::Etc::sourcelist/f sources_parts Dir::Etc::sourceparts/d)"
sources_list=${sources_list:-/etc/apt/sources.list}
sources_parts=${sources_parts:-/etc/apt/sources.list.d/}
added=${sources_parts%/}/wrapper-deb-src.sources

has_deb_src() {
  grep -qsE '^[[:space:]]*deb-src[[:space:]]' "$sources_list" "${sources_parts%/}"/*.list && return 0
  grep -qsiE '^Types:.*deb-src' "${sources_parts%/}"/*.sources
}

# deb822 stanzas of type deb that list main, and one-line `deb` entries that
# do: the same with deb-src, main alone and the suites without a pocket.
deb_src_entries() {
  local file
  for file in "${sources_parts%/}"/*.sources; do
    [ -f "$file" ] && [ "$file" != "$added" ] || continue
    awk '
      function flush(   n, i, word, release) {
        n = split(suites, word, /[[:space:]]+/); release = ""
        for (i = 1; i <= n; i++) if (word[i] != "" && word[i] !~ /-/) release = release (release == "" ? "" : " ") word[i]
        if (types ~ /(^| )deb( |$)/ && comps ~ /(^| )main( |$)/ && uris != "" && release != "") {
          print "Types: deb-src"; print "URIs: " uris; print "Suites: " release
          print "Components: main"; if (key != "") print "Signed-By: " key; print ""
        }
        types = uris = suites = comps = key = ""
      }
      /^[[:space:]]*$/ { flush(); next }
      /^#/ { next }
      { field = tolower($1); value = $0; sub(/^[^:]*:[[:space:]]*/, "", value) }
      field == "types:" { types = value } field == "uris:" { uris = value }
      field == "suites:" { suites = value } field == "components:" { comps = value }
      field == "signed-by:" { key = value }
      END { flush() }' "$file"
  done
  for file in "$sources_list" "${sources_parts%/}"/*.list; do
    [ -f "$file" ] || continue
    awk '$1 == "deb" {
           line = $0; sub(/^deb[[:space:]]+/, "", line)
           options = ""
           if (line ~ /^\[/) { options = substr(line, 1, index(line, "]")); line = substr(line, index(line, "]") + 1) }
           n = split(line, word, /[[:space:]]+/); start = (word[1] == "") ? 2 : 1
           if (word[start + 1] ~ /-/) next
           for (i = start + 2; i <= n; i++) if (word[i] == "main") {
             print "deb-src " (options == "" ? "" : options " ") word[start] " " word[start + 1] " main"; break
           }
         }' "$file"
  done
}

if ! has_deb_src; then
  entries=$(deb_src_entries)
  if [ -z "$entries" ]; then
    say "apt has no deb entry for a main component to take a deb-src entry from"
    exit 1
  fi
  if grep -q '^Types:' <<<"$entries"; then
    target=$added
  else
    target=${added%.sources}.list
  fi
  if ! printf '%s\n' "$entries" >"$target" 2>/dev/null; then
    say "apt has no deb-src entry and $target cannot be written (run as root)"
    exit 1
  fi
  say "added deb-src entries for main to $target"
  apt-get update -qq >/dev/null 2>&1 || say "apt-get update failed; trying with the indexes apt has"
fi

parent=$(dirname "$dest")
mkdir -p "$parent" || exit 1
work=$(mktemp -d "$parent/.zstd-source.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
# A mirror caught mid-sync refuses for a while: tried as often as
# install-deps.sh tries its update, the indexes renewed in between.
tries=${INSTALL_DEPS_TRIES:-3}
for ((try = 1; ; try++)); do
  if (cd "$work" && apt-get source -qq "$package") >"$work/apt.log" 2>&1; then
    break
  fi
  reason=$(grep -E '^E: ' "$work/apt.log" | head -n 2 | paste -sd ' ')
  if [ "$try" -ge "$tries" ]; then
    say "apt-get source $package failed $try times: $reason"
    exit 1
  fi
  say "apt-get source $package failed (try $try of $tries: $reason); trying again in ${INSTALL_DEPS_PAUSE:-10} s"
  sleep "${INSTALL_DEPS_PAUSE:-10}"
  apt-get update -qq >/dev/null 2>&1
  find "$work" -mindepth 1 -delete
done
unpacked=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'libzstd-*' | head -n 1)
if [ -z "$unpacked" ] || [ ! -f "$unpacked/lib/zstd.h" ]; then
  say "apt-get source $package left no unpacked zstd sources"
  exit 1
fi
version=$(sed -n 's/^Version: //p' "$work"/*.dsc | head -n 1)
rm -rf "$dest"
mv "$unpacked" "$dest" || exit 1
echo "zstd-source: fetched Debian's source package $package $version into $dest"

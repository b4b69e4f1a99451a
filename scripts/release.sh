#!/usr/bin/env bash
# Builds every artefact of a release into dist/, all carrying the version that the top
# CMakeLists.txt declares (project(TSKQDL32 VERSION ...)), with dist/SHA256SUMS:
#   dist/libtskqdl32-3_<v>_<arch>.deb        the current library
#   dist/libtskqdl32-legacy1_<v>_<arch>.deb  the legacy library
#   dist/libtskqdl32-dev_<v>_<arch>.deb      header, links, CMake and pkg-config packages, API docs
#   dist/qdlcfg_<v>_<arch>.deb               the tool and its manual page
#       (debhelper, packaging/debian, from a copy of the source tree in build-release/deb)
#   dist/tskqdl32-<v>-windows-x86_64.zip, ...-i686.zip   the Windows SDKs, each with the
#       DLLs' symbols apart in ...-debug.zip (packaging/windows/sdk.sh, build-release/win*)
#   dist/tskqdl32-config-<v>.tar.gz          the Ansible collection (ansible-galaxy)
# The tests of what it builds are tests/release/*.sh (scripts/test-all.sh runs them).
# Installs what is missing first (scripts/deps.sh --release --windows).
# Usage: scripts/release.sh [deb|windows|ansible...]  (no argument: all of them; one or more
# names build only those kinds, and SHA256SUMS then covers what dist/ holds). JOBS: parallelism (2).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
kinds=("$@")
[ ${#kinds[@]} -eq 0 ] && kinds=(deb windows ansible)
for kind in "${kinds[@]}"; do
  case $kind in
    deb|windows|ansible) ;;
    *) echo "usage: scripts/release.sh [deb|windows|ansible...]" >&2; exit 2 ;;
  esac
done
wants() { [[ " ${kinds[*]} " == *" $1 "* ]]; }

version=$(sed -n 's/^project(TSKQDL32 VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "release.sh: no project version in CMakeLists.txt" >&2; exit 1; }
collection=contrib/ansible/collection/ansible_collections/tskqdl32/config
galaxy_version=$(sed -n 's/^version: *//p' "$collection/galaxy.yml")
if [ "$galaxy_version" != "$version" ]; then
  echo "release.sh: $collection/galaxy.yml says version $galaxy_version, the project $version" >&2
  exit 1
fi

deps=(--release)
wants windows && deps+=(--windows)
scripts/deps.sh "${deps[@]}"

work=$PWD/build-release
dist=$PWD/dist
mkdir -p "$work" "$dist"
rm -f "$dist/SHA256SUMS"
echo "== release $version"

# The source tree as git sees it (tracked and new files, not the ignored build trees); outside
# a git work tree, everything but the build trees and dist/.
copy_source() {
  local to=$1
  mkdir -p "$to"
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard |
      while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
      tar --null -T - -cf - | tar -xf - -C "$to"
  else
    tar --exclude=./build --exclude='./build-*' --exclude=./dist -cf - . | tar -xf - -C "$to"
  fi
}

if wants deb; then
  echo "== Debian packages"
  rm -rf "$work/deb" "$dist"/*.deb
  stage=$work/deb/tskqdl32-$version
  copy_source "$stage"
  cp -r packaging/debian "$stage/debian"
  when=$(git log -1 --format=%ct 2>/dev/null || date +%s)
  {
    echo "tskqdl32 ($version) unstable; urgency=medium"
    echo
    echo "  * Release $version (CHANGELOG.md)."
    echo
    echo " -- TSKQDL32 maintainers <maintainers@users.noreply.c-seed-606405a3.example>  $(date -R -u -d "@$when")"
  } >"$stage/debian/changelog"
  (cd "$stage" && DEB_BUILD_OPTIONS="parallel=$jobs noautodbgsym" \
     dpkg-buildpackage -b -uc -us >"$work/deb/build.log" 2>&1) || {
    tail -50 "$work/deb/build.log" >&2
    echo "release.sh: dpkg-buildpackage failed (log: $work/deb/build.log)" >&2
    exit 1
  }
  cp "$work"/deb/*_"$version"_*.deb "$dist/"
fi

if wants windows; then
  echo "== Windows SDKs"
  JOBS=$jobs packaging/windows/sdk.sh "$version" "$work" "$dist"
fi

if wants ansible; then
  echo "== Ansible collection"
  rm -f "$dist"/tskqdl32-config-*.tar.gz
  ansible-galaxy collection build --output-path "$dist" "$collection" >/dev/null
fi

(cd "$dist" && find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%f\n' | sort |
   xargs -r sha256sum >SHA256SUMS)
echo "== dist/"
(cd "$dist" && ls -l)

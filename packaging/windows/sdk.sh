#!/usr/bin/env bash
# sdk.sh VERSION WORK DIST - the Windows SDKs of a release, one zip per architecture (called by
# scripts/release.sh):
#   DIST/tskqdl32-VERSION-windows-ARCH.zip         (ARCH x86_64, i686), one folder of that name:
#     bin/TSKQDL32.dll                        the current library (no DWARF: stripped)
#     bin/tskqdl32-legacy/TSKQDL32.dll        the legacy library, apart (same file name)
#     bin/qdlcfg.exe                          the tool, once it builds for Windows: the install
#                                             rules put it there and it is zipped with the rest
#     include/tskqdl32.h
#     lib/TSKQDL32.lib                        import library for Visual Studio (and clang-cl)
#     lib/libTSKQDL32.dll.a                   import library for MinGW
#     lib/tskqdl32-legacy/TSKQDL32.lib, libTSKQDL32.dll.a   the same for the legacy DLL
#     lib/cmake/TSKQDL32/                     the CMake package (either toolchain)
#     README.md, share/doc/tskqdl32/          how to use it; the project's documents, API docs
#   DIST/tskqdl32-VERSION-windows-ARCH-debug.zip   the DLLs' DWARF symbols (TSKQDL32.dll.debug,
#                                             found by the DLLs' .gnu_debuglink)
# Each architecture is built in WORK/win-ARCH (Release, mingw-w64) and staged in WORK/sdk-ARCH.
# The Visual Studio import libraries are made by llvm-dlltool from exports/*.def: on i686 MSVC
# names a cdecl function _QDL_Add_Record, the DLL exports QDL_Add_Record, and llvm-dlltool's
# i386 import library maps the one to the other (symbol with the underscore, import by the name
# without it).
set -euo pipefail
version=$1 work=$2 dist=$3
cd "$(dirname "$0")/../.."
jobs=${JOBS:-2}
dlltool=$(command -v llvm-dlltool || command -v llvm-dlltool-14) || {
  echo "sdk.sh: llvm-dlltool is missing (scripts/deps.sh --release)" >&2
  exit 2
}
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

for arch in x86_64 i686; do
  case $arch in
    x86_64) toolchain=toolchain-mingw64.cmake triplet=x86_64-w64-mingw32 machine=i386:x86-64 ;;
    i686) toolchain=toolchain-mingw32.cmake triplet=i686-w64-mingw32 machine=i386 ;;
  esac
  name=tskqdl32-$version-windows-$arch
  build=$work/win-$arch
  stage=$work/sdk-$arch/$name
  debug=$work/sdk-$arch/debug/$name
  echo "== $name"
  if [ -f "$build/CMakeCache.txt" ] && [ ${#generator[@]} -gt 0 ] &&
     ! grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$build/CMakeCache.txt"; then
    rm -rf "$build"
  fi
  cmake -S . -B "$build" "${generator[@]}" -DCMAKE_TOOLCHAIN_FILE="cmake/$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DQDL_BUILD_TESTS=OFF -DQDL_BUILD_TOOLS=ON \
    -DQDL_WERROR="${QDL_WERROR:-OFF}" >/dev/null
  cmake --build "$build" -j"$jobs" >/dev/null
  cmake --build "$build" --target docs >/dev/null
  rm -rf "$work/sdk-$arch"
  cmake --install "$build" --prefix "$stage" >/dev/null

  # DWARF out of the DLLs (and programs), into the symbols zip.
  while IFS= read -r -d '' bin; do
    rel=${bin#"$stage"/}
    mkdir -p "$debug/$(dirname "$rel")"
    "$triplet-objcopy" --only-keep-debug "$bin" "$debug/$rel.debug"
    "$triplet-strip" --strip-debug "$bin"
    (cd "$debug/$(dirname "$rel")" &&
       "$triplet-objcopy" --add-gnu-debuglink="$(basename "$rel").debug" "$bin")
  done < <(find "$stage/bin" -type f \( -name '*.dll' -o -name '*.exe' \) -print0)

  "$dlltool" -m "$machine" -d exports/tskqdl32.def -l "$stage/lib/TSKQDL32.lib"
  "$dlltool" -m "$machine" -d exports/tskqdl32_legacy.def \
    -l "$stage/lib/tskqdl32-legacy/TSKQDL32.lib"

  docs=$stage/share/doc/tskqdl32
  mkdir -p "$docs"
  cp README.md CHANGELOG.md docs/*.md docs/json.schema.json "$docs/"
  cp -r "$build/docs/html" "$docs/html"
  sed "s/@VERSION@/$version/g; s/@ARCH@/$arch/g" packaging/windows/README.md.in >"$stage/README.md"

  rm -f "$dist/$name.zip" "$dist/$name-debug.zip"
  (cd "$work/sdk-$arch" && zip -qr -X "$dist/$name.zip" "$name")
  (cd "$work/sdk-$arch/debug" && zip -qr -X "$dist/$name-debug.zip" "$name")
done

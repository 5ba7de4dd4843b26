#!/usr/bin/env bash
# Builds the release from the committed tree: Clearon.exe and ClearonCheck.exe
# in a fresh build/release folder, then dist/Clearon-<version>.zip,
# dist/SHA256SUMS and dist/Clearon-<version>.spdx.json. Two runs from two
# clones of one commit give the same bytes; the SHA-256 of every file is
# printed so two people can compare.
#
#   scripts/release.sh [--sign <certificate.pfx> --password-file <file>
#                       [--timestamp <url>] [--ca-file <certificates.pem>]]
#                      [--reuse-build]
#
# --sign        signs both executables with Authenticode (SHA-256) before they
#               are packed, and verifies the signatures it made
# --timestamp   asks this RFC 3161 server to countersign the signatures
# --ca-file     the certificates that verification trusts (a self-signed test
#               certificate, say); by default the system's
# --reuse-build packs the executables already in build/release instead of
#               building again (to sign the very bytes already compared)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/release
dist=$root/dist

usage() {
  sed -n '/^#   scripts/,/^#$/p' "$0" | sed 's/^#//' >&2
  exit 64
}

certificate='' password_file='' timestamp_url='' ca_file='' reuse=0
while [ $# -gt 0 ]; do
  case $1 in
    --sign) [ $# -ge 2 ] || usage; certificate=$2; shift 2 ;;
    --password-file) [ $# -ge 2 ] || usage; password_file=$2; shift 2 ;;
    --timestamp) [ $# -ge 2 ] || usage; timestamp_url=$2; shift 2 ;;
    --ca-file) [ $# -ge 2 ] || usage; ca_file=$2; shift 2 ;;
    --reuse-build) reuse=1; shift ;;
    *) usage ;;
  esac
done
if [ -n "$certificate" ] && [ -z "$password_file" ]; then
  echo "--sign needs --password-file (the certificate's password, alone in a file)" >&2
  exit 64
fi
if [ -z "$certificate" ] && { [ -n "$password_file" ] || [ -n "$timestamp_url" ] || [ -n "$ca_file" ]; }; then
  echo "--password-file, --timestamp and --ca-file only go with --sign" >&2
  exit 64
fi
for f in "$certificate" "$password_file" "$ca_file"; do
  if [ -n "$f" ] && [ ! -r "$f" ]; then
    echo "Cannot read $f" >&2
    exit 66
  fi
done

# Everything that records a time records the commit's; nothing depends on the
# time zone, the locale, the builder's umask or compiler flags in the builder's
# environment.
unset CFLAGS CXXFLAGS CPPFLAGS LDFLAGS RCFLAGS
SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct)
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
umask 022
commit=$(git -C "$root" rev-parse HEAD)
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
  echo "Warning: the tree differs from commit $commit; a rebuild of that commit will not match." >&2
fi

if [ "$reuse" -eq 0 ]; then
  rm -rf "$build"
  mkdir -p "$build"
  echo "Building commit $commit in $build"
  if ! { cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCLEARON_RELEASE=ON \
           -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" &&
         cmake --build "$build" -j"${CLEARON_JOBS:-2}" --target Clearon ClearonCheck; } \
       >"$build.log" 2>&1; then
    tail -n 40 "$build.log" >&2
    echo "The build failed; its log is $build.log" >&2
    exit 1
  fi
elif [ ! -f "$build/Clearon.exe" ] || [ ! -f "$build/ClearonCheck.exe" ] ||
     ! grep -q 'CLEARON_RELEASE:BOOL=ON' "$build/CMakeCache.txt"; then
  echo "--reuse-build: $build holds no release build" >&2
  exit 1
fi
version=$(cat "$build/clearon-version.txt")

# A folder name left in a binary would make every rebuild elsewhere differ.
for exe in Clearon.exe ClearonCheck.exe; do
  if { strings -a "$build/$exe"; strings -a -e l "$build/$exe"; } | grep -F -e "$root" -e "$build"; then
    echo "$exe records a build folder: the release would not be reproducible" >&2
    exit 1
  fi
done

stage=$build/stage
rm -rf "$stage" "$dist"
mkdir -p "$stage/docs/return-codes" "$dist"
cp "$build/Clearon.exe" "$build/ClearonCheck.exe" "$stage/"
cp "$root/examples/Clearon.ini" "$root/README.md" "$stage/"
cp "$root/docs/fleet-deployment.md" "$root/docs/clearon-check-json.md" "$stage/docs/"
cp "$root/docs/return-codes/intune-returnCodes.json" "$root/docs/return-codes/configmgr-returnCodes.ps1" \
  "$stage/docs/return-codes/"

if [ -n "$certificate" ]; then
  # The signing time is the commit's, so one certificate signs one commit to
  # the same bytes (unless a timestamp server adds its own time).
  for exe in Clearon.exe ClearonCheck.exe; do
    args=(sign -pkcs12 "$certificate" -readpass "$password_file" -h sha256
          -n Clearon -time "$SOURCE_DATE_EPOCH" -in "$stage/$exe" -out "$stage/$exe.signed")
    [ -z "$timestamp_url" ] || args+=(-ts "$timestamp_url")
    if ! osslsigncode "${args[@]}" >"$build/sign.log" 2>&1; then
      cat "$build/sign.log" >&2
      echo "Signing $exe failed" >&2
      exit 1
    fi
    mv "$stage/$exe.signed" "$stage/$exe"
    verify=(verify -in "$stage/$exe")
    [ -z "$ca_file" ] || verify+=(-CAfile "$ca_file")
    if ! osslsigncode "${verify[@]}" >"$build/verify.log" 2>&1; then
      cat "$build/verify.log" >&2
      echo "The signature of $exe does not verify" >&2
      exit 1
    fi
    echo "Signed and verified $exe"
  done
fi

entries=(Clearon.exe ClearonCheck.exe Clearon.ini README.md
         docs/clearon-check-json.md docs/fleet-deployment.md
         docs/return-codes/intune-returnCodes.json docs/return-codes/configmgr-returnCodes.ps1)
zip=Clearon-$version.zip
python3 "$root/scripts/release-package.py" zip "$dist/$zip" "$stage" "${entries[@]}"
python3 "$root/scripts/release-package.py" spdx "$dist/Clearon-$version.spdx.json" "$version" \
  "$stage/Clearon.exe" "$stage/ClearonCheck.exe"
(cd "$stage" && sha256sum "${entries[@]}") >"$dist/SHA256SUMS"
(cd "$dist" && sha256sum "$zip" "Clearon-$version.spdx.json") >>"$dist/SHA256SUMS"

echo "Clearon $version, commit $commit, SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"
echo "SHA-256 (unpack the zip beside SHA256SUMS, then: sha256sum -c SHA256SUMS):"
cat "$dist/SHA256SUMS"
echo "Done in ${SECONDS} s"

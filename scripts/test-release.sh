#!/usr/bin/env bash
# Releases the committed HEAD twice, from two clones in different folders, and
# requires the same bytes; then signs with a throwaway self-signed certificate
# and requires that the signature verifies, that a changed byte breaks it,
# that signing is repeatable, and that the signature taken from the signed
# file fits the unsigned rebuild exactly (the check the README describes).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/clearon-release.XXXXXX")
trap 'rm -rf "$work"' EXIT
commit=$(git -C "$root" rev-parse HEAD)

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

first=$work/first
second=$work/elsewhere/second
for clone in "$first" "$second"; do
  git clone -q --no-checkout "$root" "$clone"
  git -C "$clone" checkout -q --detach "$commit"
  echo "Release from $clone"
  bash "$clone/scripts/release.sh" >"$clone.out" 2>&1 || { cat "$clone.out"; fail "release from $clone"; }
done
diff -r "$first/dist" "$second/dist" || fail "two releases of $commit differ"
version=$(cat "$first/build/release/clearon-version.txt")
zip=$first/dist/Clearon-$version.zip
[ -f "$zip" ] || fail "no $zip"

# Every line of SHA256SUMS holds for the unpacked zip and the zip itself, and
# the file properties carry the version the zip is named after.
unpacked=$work/unpacked
python3 -m zipfile -e "$zip" "$unpacked"
cp "$first/dist/"* "$unpacked/"
(cd "$unpacked" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS"
for exe in Clearon.exe ClearonCheck.exe; do
  # grep reads to the end (no -q): under pipefail, strings must not die of
  # SIGPIPE when the version stands early in the file.
  strings -a -e l "$unpacked/$exe" | grep -x -- "$version" >/dev/null || fail "$exe has no version $version"
done

# A throwaway certificate, made here and gone with the temporary folder.
keys=$work/keys
mkdir "$keys"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Clearon release test" \
  -addext extendedKeyUsage=codeSigning -keyout "$keys/key.pem" -out "$keys/cert.pem" 2>/dev/null
openssl rand -hex 16 >"$keys/password"
openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/cert.pem" -out "$keys/cert.pfx" \
  -passout file:"$keys/password"
sign=(--reuse-build --sign "$keys/cert.pfx" --password-file "$keys/password" --ca-file "$keys/cert.pem")
bash "$second/scripts/release.sh" "${sign[@]}" >"$work/signed.out" 2>&1 ||
  { cat "$work/signed.out"; fail "signed release"; }
cp -r "$second/dist" "$work/signed-once"
bash "$second/scripts/release.sh" "${sign[@]}" >"$work/signed.out" 2>&1 ||
  { cat "$work/signed.out"; fail "second signed release"; }
diff -r "$work/signed-once" "$second/dist" || fail "two signings with one certificate differ"

signed=$work/signed
python3 -m zipfile -e "$second/dist/Clearon-$version.zip" "$signed"
for exe in Clearon.exe ClearonCheck.exe; do
  osslsigncode verify -in "$signed/$exe" -CAfile "$keys/cert.pem" >/dev/null 2>&1 ||
    fail "the signature of $exe does not verify"
  ! cmp -s "$signed/$exe" "$unpacked/$exe" || fail "$exe was not signed"
  osslsigncode extract-signature -in "$signed/$exe" -out "$work/$exe.p7" >/dev/null
  osslsigncode attach-signature -sigin "$work/$exe.p7" -CAfile "$keys/cert.pem" \
    -in "$unpacked/$exe" -out "$work/$exe.attached" >/dev/null 2>&1
  cmp -s "$work/$exe.attached" "$signed/$exe" || fail "the signature does not fit the rebuilt $exe"
  python3 -c 'import sys; p = sys.argv[1]; b = bytearray(open(p, "rb").read())
b[len(b) // 3] ^= 0xFF; open(p, "wb").write(b)' "$signed/$exe"
  if osslsigncode verify -in "$signed/$exe" -CAfile "$keys/cert.pem" >/dev/null 2>&1; then
    fail "$exe still verifies with a changed byte"
  fi
done
echo "Release of $commit: reproducible; signed, verified, tamper detected"

#!/usr/bin/env bash
# Keys and signatures of update archives (Ed25519, with the openssl tool).
#
#   update-signing.sh keys FOLDER             makes FOLDER/update-private.pem (keep it secret, keep a
#                                             copy) and prints the public key the updater is built with
#   update-signing.sh public PRIVATE.pem      prints that public key again
#   update-signing.sh sign PRIVATE.pem ZIP YYYY-MM-DD
#                                             writes ZIP.sig, the signature to publish beside ZIP:
#                                             it holds for ZIP as the release of that date only
set -euo pipefail

usage() {
  sed -n '2,10s/^# \{0,1\}//p' "$0" >&2
  exit 2
}

public_hex() {
  openssl pkey -in "$1" -pubout -outform DER | tail -c 32 | od -An -v -tx1 | tr -d ' \n'
  echo
}

case "${1:-}" in
  keys)
    [ $# -eq 2 ] || usage
    key="$2/update-private.pem"
    if [ -e "$key" ]; then
      echo "$key exists already: it is not replaced." >&2
      exit 1
    fi
    mkdir -p "$2"
    (umask 077 && openssl genpkey -algorithm ed25519 -out "$key")
    echo "Private key: $key" >&2
    echo "Build the updater with: -DQUILLOMET_UPDATE_PUBLIC_KEY=$(public_hex "$key")" >&2
    public_hex "$key"
    ;;
  public)
    [ $# -eq 2 ] || usage
    public_hex "$2"
    ;;
  sign)
    [ $# -eq 4 ] || usage
    key="$2"
    zip="$3"
    release="$4"
    if ! [[ "$release" =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}$ ]] ||
      [ "$(date -u -d "$release" +%F 2>/dev/null)" != "$release" ]; then
      echo "Release date $release: write it as YYYY-MM-DD, the day on the first line of the update page." >&2
      exit 2
    fi
    tmp="$(mktemp "$zip.sig.XXXXXX")"
    trap 'rm -f "$tmp" "$tmp.pub" "$tmp.txt"' EXIT
    # What is signed: the release and the archive's SHA-256 (the updater builds the same text).
    printf 'QUILLOMET-MISE-A-JOUR 1\nversion %s\nsha256 %s\n' "$release" \
      "$(sha256sum "$zip" | cut -d' ' -f1)" >"$tmp.txt"
    openssl pkeyutl -sign -inkey "$key" -rawin -in "$tmp.txt" -out "$tmp"
    # Checked with the public half before it is published.
    openssl pkey -in "$key" -pubout -out "$tmp.pub"
    openssl pkeyutl -verify -pubin -inkey "$tmp.pub" -rawin -in "$tmp.txt" -sigfile "$tmp" >/dev/null
    [ "$(stat -c %s "$tmp")" -eq 64 ]
    chmod 644 "$tmp"
    mv "$tmp" "$zip.sig"
    echo "Signature: $zip.sig (release $release)" >&2
    ;;
  *)
    usage
    ;;
esac

#!/usr/bin/env bash
# Keys and signatures of update archives (Ed25519, with the openssl tool).
#
#   update-signing.sh keys FOLDER             makes FOLDER/update-private.pem (keep it secret, keep a
#                                             copy) and prints the public key the updater is built with
#   update-signing.sh public PRIVATE.pem      prints that public key again
#   update-signing.sh sign PRIVATE.pem ZIP    writes ZIP.sig, the signature to publish beside ZIP
set -euo pipefail

usage() {
  sed -n '2,8s/^# \{0,1\}//p' "$0" >&2
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
    [ $# -eq 3 ] || usage
    key="$2"
    zip="$3"
    tmp="$(mktemp "$zip.sig.XXXXXX")"
    trap 'rm -f "$tmp" "$tmp.pub"' EXIT
    openssl pkeyutl -sign -inkey "$key" -rawin -in "$zip" -out "$tmp"
    # Checked with the public half before it is published.
    openssl pkey -in "$key" -pubout -out "$tmp.pub"
    openssl pkeyutl -verify -pubin -inkey "$tmp.pub" -rawin -in "$zip" -sigfile "$tmp" >/dev/null
    [ "$(stat -c %s "$tmp")" -eq 64 ]
    chmod 644 "$tmp"
    mv "$tmp" "$zip.sig"
    echo "Signature: $zip.sig" >&2
    ;;
  *)
    usage
    ;;
esac

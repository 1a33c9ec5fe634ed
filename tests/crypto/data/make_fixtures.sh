#!/usr/bin/env bash
# Remakes the encrypted fixture archives with the real tools (7-Zip's 7zz, Info-ZIP zip).
# The password is "secret" (zipcrypto-1252.zip: "ge\xEFnstalleerd\xFF" in code page 1252);
# plain.txt is the one file they hold.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ ! -f plain.txt ]; then
  python3 -c '
import random
r = random.Random(4)
words = ["upgrade", "installer", "archive", "kelvaro", "bestand", "map", "versie", "sleutel"]
lines = [" ".join(r.choice(words) for _ in range(r.randint(3, 12))) for _ in range(90)]
open("plain.txt", "w", newline="\r\n").write("\n".join(lines) + "\n")'
fi
cp plain.txt "$work/plain.txt"
touch -d '2024-03-05 14:27:36' "$work/plain.txt"
rm -f aes*.zip zipcrypto*.zip
for bits in 128 192 256; do
  (cd "$work" && 7zz a -tzip -mem=AES$bits -mx=0 -psecret "aes$bits.zip" plain.txt >/dev/null)
  mv "$work/aes$bits.zip" .
done
(cd "$work" && 7zz a -tzip -mem=AES256 -mx=9 -psecret aes256-deflated.zip plain.txt >/dev/null)
mv "$work/aes256-deflated.zip" .
# AE-1 (the CRC-32 kept beside the authentication code): bsdtar writes it, 7-Zip AE-2.
(cd "$work" && bsdtar --format zip --options zip:encryption=aes256 --passphrase secret \
  -cf aes256-ae1.zip plain.txt)
mv "$work/aes256-ae1.zip" .
(cd "$work" && 7zz a -tzip -mem=ZipCrypto -mx=0 -psecret zipcrypto-7zz.zip plain.txt >/dev/null)
mv "$work/zipcrypto-7zz.zip" .
(cd "$work" && zip -q -0 -X -e -P secret zipcrypto-stored.zip plain.txt)
(cd "$work" && zip -q -9 -X -e -P secret zipcrypto-deflated.zip plain.txt)
(cd "$work" && zip -q -0 -X -e -P secret - - < plain.txt > zipcrypto-stdin.zip)
# A password in code page 1252 with bytes above 0x7F, given to zip as raw bytes.
(cd "$work" && zip -q -0 -X -e -P $'ge\xefnstalleerd\xff' zipcrypto-1252.zip plain.txt)
mv "$work"/zipcrypto-*.zip .

#!/usr/bin/env bash
# Makes enciphered "config" fixtures with openssl alone, independent of the launcher's own cipher:
# salt (21 bytes) | pad count | AES-256-ECB of the zero-filled text under "q7Rv#Lomxet" + salt.
set -euo pipefail
out_dir=${1:-$(cd "$(dirname "$0")/../tests/data" && pwd)}
key_text_hex=$(printf '%s' 'q7Rv#Lomxet' | od -An -tx1 | tr -d ' \n')

# make_fixture <file> <salt hex, 21 bytes> <text>
make_fixture() {
  local file=$1 salt_hex=$2 text=$3
  local length=${#text}
  local pad=$(( (16 - length % 16) % 16 ))
  # openssl silently drops key bytes beyond 32, so a wrong salt length must stop the script.
  [ ${#salt_hex} -eq 42 ] || { echo "salt of $file must be 21 bytes" >&2; exit 1; }
  {
    printf '%s' "$salt_hex" | xxd -r -p
    printf "\\x$(printf '%02x' "$pad")"
    { printf '%s' "$text"; head -c "$pad" /dev/zero; } |
      openssl enc -aes-256-ecb -nopad -K "${key_text_hex}${salt_hex}"
  } > "$out_dir/$file"
}

# 16 bytes: pad count 0, one block. The salt holds a zero byte and bytes above 0x7F on purpose.
make_fixture config_fixture_10005.bin 00ff102030405060708090aabbccddeeff011e2d3c '[Version] 10005
'
# 12 bytes: pad count 4, the block's last four plain bytes are zero.
make_fixture config_fixture_7.bin 8e0c71f25a9d33b6e41700c85fa2d97b1c06e3944a '[Version] 7
'

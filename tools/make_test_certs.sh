#!/usr/bin/env bash
# Makes the test certificates of the local patch server in DIR (once; later runs keep them): a test CA,
# a good server certificate for 127.0.0.1, one for another host, an expired one, and one from a second,
# untrusted CA. Everything is for the loopback tests only; trust goes into a Wine prefix, never the host.
set -euo pipefail
dir=${1:?usage: make_test_certs.sh DIR}
mkdir -p "$dir"
cd "$dir"
wanted=(ca.pem ca.key server.pem server.key wrong-host.pem wrong-host.key expired.pem expired.key
        untrusted.pem untrusted.key)
complete=1
for f in "${wanted[@]}"; do [ -s "$f" ] || complete=0; done
[ "$complete" = 1 ] && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

make_ca() {  # name subject
    openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -keyout "$work/$1.key" -out "$work/$1.pem" \
        -subj "$2" -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}

# Signs a leaf with openssl ca, which (unlike openssl x509 in 3.0) takes explicit start and end dates.
sign_leaf() {  # name ca common-name subject-alt-names start end
    local name=$1 ca=$2 cn=$3 san=$4 start=$5 end=$6
    openssl req -newkey rsa:2048 -nodes -sha256 -keyout "$work/$name.key" -out "$work/$name.csr" \
        -subj "/CN=$cn" 2>/dev/null
    mkdir -p "$work/db-$name"
    : >"$work/db-$name/index.txt"
    cat >"$work/$name.cnf" <<CNF
[ca]
default_ca = test_ca
[test_ca]
database = $work/db-$name/index.txt
new_certs_dir = $work/db-$name
serial = $work/db-$name/serial
default_md = sha256
policy = any_policy
unique_subject = no
copy_extensions = none
x509_extensions = leaf
[any_policy]
commonName = supplied
[leaf]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = $san
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF
    openssl rand -hex 16 >"$work/db-$name/serial"
    openssl ca -batch -notext -config "$work/$name.cnf" -cert "$work/$ca.pem" -keyfile "$work/$ca.key" \
        -startdate "$start" -enddate "$end" -in "$work/$name.csr" -out "$work/$name.pem" 2>/dev/null
}

now_minus_day=$(date -u -d '-1 day' +%Y%m%d%H%M%SZ)
in_ten_years=$(date -u -d '+3650 days' +%Y%m%d%H%M%SZ)
make_ca ca "/CN=VYR Launcher Test CA"
make_ca other-ca "/CN=VYR Launcher Untrusted Test CA"
loopback_names="DNS:127.0.0.1,DNS:localhost,IP:127.0.0.1"
sign_leaf server ca 127.0.0.1 "$loopback_names" "$now_minus_day" "$in_ten_years"
sign_leaf wrong-host ca wrong.example "DNS:wrong.example" "$now_minus_day" "$in_ten_years"
sign_leaf expired ca 127.0.0.1 "$loopback_names" 20200101000000Z 20210101000000Z
sign_leaf untrusted other-ca localhost "$loopback_names" "$now_minus_day" "$in_ten_years"

for f in "${wanted[@]}"; do cp "$work/$f" "$dir/$f"; done

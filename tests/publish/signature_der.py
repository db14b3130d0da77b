"""Re-encodes the index's r||s signature as the DER that `openssl dgst -verify` reads."""


def der_integer(value):
    value = value.lstrip(b"\0") or b"\0"
    if value[0] & 0x80:
        value = b"\0" + value
    return b"\x02" + bytes([len(value)]) + value


def der_signature(raw):
    body = der_integer(raw[:32]) + der_integer(raw[32:])
    return b"\x30" + bytes([len(body)]) + body


def split_index(text):
    """(signed bytes, r||s) of a signed PatchIndex.txt."""
    body, _, line = text.rpartition(b"signature ")
    return body, bytes.fromhex(line.strip().decode())

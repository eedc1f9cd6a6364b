"""Throwaway TLS files for the exporter's tests: a CA and certificates made
with openssl, and bcrypt hashes by libxcrypt, as the exporter checks them.
"""

import os
import subprocess
import warnings

with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    import crypt

WAIT = 10  # seconds one openssl run may take


def bcrypt(password):
    return crypt.crypt(password, crypt.mksalt(crypt.METHOD_BLOWFISH, rounds=16))


def make_certs(directory, name="server"):
    """In DIRECTORY: a CA (ca.pem, made once), NAME.pem and NAME.key for
    localhost and 127.0.0.1, and a client certificate (client.pem)."""
    run = lambda *a: subprocess.run(["openssl"] + list(a), check=True,
                                    capture_output=True, cwd=directory,
                                    timeout=WAIT)
    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"]
    if not os.path.exists(os.path.join(directory, "ca.pem")):
        run("req", "-x509", *key, "-keyout", "ca.key", "-out", "ca.pem",
            "-days", "2", "-subj", "/CN=test-ca")
    with open(os.path.join(directory, "ext"), "w") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n")
    for who, ext in ((name, ["-extfile", "ext"]), ("client", [])):
        run("req", *key, "-keyout", who + ".key", "-out", who + ".csr",
            "-subj", "/CN=" + who)
        run("x509", "-req", "-in", who + ".csr", "-CA", "ca.pem", "-CAkey",
            "ca.key", "-CAcreateserial", "-out", who + ".pem", "-days", "2",
            *ext)

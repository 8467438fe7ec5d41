"""A test authority made at test time, trusted inside the test Wine prefix
only, and the server certificates the content server presents for https
(<content state>/tls/<name>.pem, chosen by rules.json's "_tls")."""
import datetime
import os
import subprocess

import zelto_e2e as z

TLS_DIR = os.path.join(z.CONTENT, "tls")
CA_PEM = os.path.join(TLS_DIR, "ca.pem")
TRUST_TOOL = os.path.join(z.BIN, "tools", "testca", "ZeltoTestCa.exe")
PORTAL_NAMES = ["down.zelto.com", "*.zelto.com"]


def _crypto():
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import rsa
    from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID
    return x509, hashes, serialization, rsa, ExtendedKeyUsageOID, NameOID


def _certificate(subject_key, issuer_key, issuer_name, cn, names, ca, not_before, not_after):
    x509, hashes, serialization, rsa, eku, NameOID = _crypto()
    subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, cn)])
    builder = (x509.CertificateBuilder().subject_name(subject).issuer_name(issuer_name or subject)
               .public_key(subject_key.public_key()).serial_number(x509.random_serial_number())
               .not_valid_before(not_before).not_valid_after(not_after))
    if ca:
        builder = builder.add_extension(x509.BasicConstraints(ca=True, path_length=None), critical=True)
        builder = builder.add_extension(x509.KeyUsage(digital_signature=False, content_commitment=False,
                                                      key_encipherment=False, data_encipherment=False,
                                                      key_agreement=False, key_cert_sign=True, crl_sign=True,
                                                      encipher_only=False, decipher_only=False), critical=True)
    else:
        builder = builder.add_extension(x509.SubjectAlternativeName([x509.DNSName(n) for n in names]), critical=False)
        builder = builder.add_extension(x509.ExtendedKeyUsage([eku.SERVER_AUTH]), critical=False)
    return builder.sign(issuer_key, hashes.SHA256())


def make_certificates():
    """The authority and the server certificates: good, selfsigned, otherhost, expired."""
    x509, hashes, serialization, rsa, eku, NameOID = _crypto()
    os.makedirs(TLS_DIR, exist_ok=True)
    now = datetime.datetime.now(datetime.timezone.utc)
    day = datetime.timedelta(days=1)
    key = lambda: rsa.generate_private_key(public_exponent=65537, key_size=2048)
    pem = lambda c: c.public_bytes(serialization.Encoding.PEM)
    key_pem = lambda k: k.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                        serialization.NoEncryption())
    ca_key = key()
    ca = _certificate(ca_key, ca_key, None, "Zelto Test Authority (tests only)", [], True, now - day, now + 30 * day)
    with open(CA_PEM, "wb") as out:
        out.write(pem(ca))
    server_key = key()
    cases = {
        "good": _certificate(server_key, ca_key, ca.subject, "down.zelto.com", PORTAL_NAMES, False, now - day,
                             now + 30 * day),
        "otherhost": _certificate(server_key, ca_key, ca.subject, "other.example", ["other.example"], False,
                                  now - day, now + 30 * day),
        "expired": _certificate(server_key, ca_key, ca.subject, "down.zelto.com", PORTAL_NAMES, False,
                                now - 30 * day, now - day),
    }
    for name, cert in cases.items():
        with open(os.path.join(TLS_DIR, name + ".pem"), "wb") as out:
            out.write(pem(cert) + pem(ca) + key_pem(server_key))
    self_key = key()
    selfsigned = _certificate(self_key, self_key, None, "down.zelto.com", PORTAL_NAMES, False, now - day,
                              now + 30 * day)
    with open(os.path.join(TLS_DIR, "selfsigned.pem"), "wb") as out:
        out.write(pem(selfsigned) + key_pem(self_key))


def trust(add):
    """Adds the authority to (or removes it from) the prefix's ROOT store."""
    result = subprocess.run([z.RUNNER, TRUST_TOOL, "add" if add else "remove", z.win_path(CA_PEM)],
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
    if result.returncode != 0:
        raise AssertionError("ZeltoTestCa %s: %s" % ("add" if add else "remove", result.stdout))

#!/usr/bin/env python3
"""velto-publish: keygen, pin, sign and check on files made in the build tree.
  publish_test.py <velto-publish> <scratch>"""
import hashlib
import os
import shutil
import stat
import subprocess
import sys
import unittest

TOOL, SCRATCH = sys.argv[1], sys.argv[2]
MARK = b"\xef\xbb\xbf"


def run(*args):
    return subprocess.run([sys.executable, TOOL] + list(args), capture_output=True, text=True,
                          timeout=60)


def sha(data):
    return hashlib.sha256(data).hexdigest()


class Publish(unittest.TestCase):
    def setUp(self):
        shutil.rmtree(SCRATCH, ignore_errors=True)
        self.folder = os.path.join(SCRATCH, "server")
        os.makedirs(self.folder)
        self.files = {"Velto320Install.upd": b"installer", "Velto320Data.upd": b"data",
                      "VeltoSetup5.upd": b"setup", "ndp461.upd": b"dotnet"}
        for name, data in self.files.items():
            with open(os.path.join(self.folder, name), "wb") as f:
                f.write(data)
        self.list = os.path.join(self.folder, "vtupdaterlist.upd")

    def write_list(self, data):
        with open(self.list, "wb") as f:
            f.write(data)

    def keygen(self, name):
        path = os.path.join(SCRATCH, name)
        result = run("keygen", path)
        self.assertEqual(result.returncode, 0, result.stderr)
        return path, result.stdout.strip()

    def test_keygen_writes_a_private_key_for_the_owner_alone(self):
        path, public = self.keygen("k.pem")
        self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600)
        self.assertRegex(public, r"^[0-9a-f]{128}$")
        self.assertNotEqual(run("keygen", path).returncode, 0, "an existing key is never replaced")

    def test_pin_changes_only_the_pin_fields(self):
        before = (MARK + b"-- published 2026-12-01\r\n"
                  b"-1,5,0,0,20261201_0000,VeltoSetup5\n"
                  b"0,320,0,x,20261201_0000,Velto 3.2\r\n"
                  b"1,Velto320Install," + b"0" * 64 + b"\r\n"
                  b"2,Velto320Data\r\n"
                  b"3,NotOnTheServer\r\n"
                  b"0,310,0,x,20260101_0000,Velto 3.1\r\n1,Velto310Install\r\n"
                  b"-2,SHA256:ndp461.upd," + b"0" * 64)
        self.write_list(before)
        self.assertEqual(run("pin", self.list, self.folder).returncode, 0)
        with open(self.list, "rb") as f:
            after = f.read()
        expected = (MARK + b"-2,SHA256:ndp461.upd," + sha(b"dotnet").encode() + b"\r\n"
                    b"-- published 2026-12-01\r\n"
                    b"-1,5,0,0,20261201_0000,VeltoSetup5," + sha(b"setup").encode() + b"\n"
                    b"0,320,0,x,20261201_0000,Velto 3.2\r\n"
                    b"1,Velto320Install," + sha(b"installer").encode() + b"\r\n"
                    b"2,Velto320Data," + sha(b"data").encode() + b"\r\n"
                    b"3,NotOnTheServer\r\n"
                    b"0,310,0,x,20260101_0000,Velto 3.1\r\n1,Velto310Install\r\n")
        self.assertEqual(after, expected, "the prerequisite's setting moves to the top")
        # Pinning again refreshes in place: nothing is added twice.
        self.assertEqual(run("pin", self.list, self.folder).returncode, 0)
        with open(self.list, "rb") as f:
            self.assertEqual(f.read(), expected)

    def test_sign_and_check(self):
        old_key, old_public = self.keygen("old.pem")
        new_key, new_public = self.keygen("new.pem")
        _, stranger = self.keygen("stranger.pem")
        self.write_list(MARK + b"0,320,0,x,20261201_0000,Velto 3.2\r\n1,Velto320Install\r\n"
                        b"2,Velto320Data\r\n")
        self.assertEqual(run("pin", self.list, self.folder).returncode, 0)
        result = run("sign", self.list, old_key, new_key)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(os.path.join(self.folder, "vtupdaterlist.sig")) as f:
            self.assertRegex(f.read(), r"^[0-9a-f]{128}\n[0-9a-f]{128}\n$")
        at = ["--at", "20261208_2300", "--folder", self.folder]
        for keys in ([old_public], [new_public], [stranger, new_public]):
            result = run("check", self.list, *at, "--keys", *keys)
            self.assertEqual(result.returncode, 0, result.stdout)
            self.assertIn("piece 1: Velto320Install.upd", result.stdout)
        result = run("check", self.list, *at, "--keys", stranger)
        self.assertEqual(result.returncode, 1)
        self.assertIn("signature", result.stdout)
        # A piece changed on the server after pinning.
        with open(os.path.join(self.folder, "Velto320Data.upd"), "ab") as f:
            f.write(b"!")
        result = run("check", self.list, *at, "--keys", old_public)
        self.assertEqual(result.returncode, 1)
        self.assertIn("Velto320Data.upd does not match", result.stdout)
        # One byte of the list changed after signing.
        with open(self.list, "rb") as f:
            data = bytearray(f.read())
        data[-3] ^= 1
        self.write_list(bytes(data))
        result = run("check", self.list, "--at", "20261208_2300", "--keys", old_public)
        self.assertEqual(result.returncode, 1)
        self.assertIn("no signature line verifies", result.stdout)

    def test_check_reports_what_would_hurt_users(self):
        cases = [
            (b"0,1,0,x,2026-12-01,V\r\n1,p\r\n", "not of the shape"),
            (b"0,1,0,x,20261201_0000,V\r\n1,p\r\n12,q\r\n", "outside 1 to 10"),
            (b"0,1,0,x,20261201_0000,V\r\n1,..\\p\r\n", "refused by the program"),
            (b"0,1,0,x,20261201_0000,V\r\n1,p,abc\r\n", "not 64 hex digits"),
            (b"0,1,0,x,20261201_0000,V\r\n2,data\r\n", "no installer piece"),
            (b"0,1,0,x,20261201_0000,V\r\n1,p," + b"y" * 520 + b"\r\n", "longer than the program"),
            (b"0,1,0,x,20991201_0000,V\r\n1,p\r\n", "no section in effect"),
            (b"0,1,0,x,20261201_0000,V\r\n1,p\r\n0,0,0,x,20200101_0000,O\r\n"
             b"-2,SHA256:ndp461.upd," + b"a" * 64 + b"\r\n", "where the program never reads it"),
            (b"0,1,0,x,20261201_0000,V\r\n1,CON\r\n", "is a device name"),
            (b"0,1,0,x,20261201_0000,V\r\n1,a?b\r\n", "refuses or one that leaves"),
            (b"0,1,0,x,20261201_0000,V\r\n1,p \r\n", "ends with a dot or a blank"),
            (b"-1,5,0,0,20261201_0000,VeltoSetup5.\r\n", "ends with a dot or a blank"),
            (b"-2,ListExpires,20000101_0000\r\n0,1,0,x,20261201_0000,V\r\n1,p\r\n", "expired at"),
            (b"-2,ListSerial,x5\r\n0,1,0,x,20261201_0000,V\r\n1,p\r\n", "not a decimal number"),
        ]
        cases = [(MARK + data, problem) for data, problem in cases] + [
            # Without the mark: 200 one-byte OEM characters need 600 bytes in UTF-8.
            (b"-2,K," + b"\xb1" * 200 + b"\r\n0,1,0,x,20261201_0000,V\r\n1,p\r\n",
             "too long in UTF-8"),
        ]
        for data, problem in cases:
            with self.subTest(problem):
                self.write_list(data)
                result = run("check", self.list, "--at", "20261208_2300")
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn(problem, result.stdout)
        # What is not protected is said, without failing the check.
        self.write_list(MARK + b"0,1,0,x,20261201_0000,V\r\n1,p\r\n")
        result = run("check", self.list, "--at", "20261208_2300")
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertIn("WARNING: the list is not signed (no vtupdaterlist.sig", result.stdout)
        self.assertIn("WARNING: the list has no ListSerial", result.stdout)
        with open(os.path.join(self.folder, "vtupdaterlist.sig"), "w") as f:
            f.write("\n")
        self.assertIn("holds no signature line", run("check", self.list).stdout)
        # With keys every piece needs its pin, and each prerequisite without one is named.
        self.write_list(MARK + b"0,1,0,x,20261201_0000,V\r\n1,p," + b"a" * 64 + b"\r\n2,data\r\n")
        _, public = self.keygen("k.pem")
        result = run("check", self.list, "--at", "20261208_2300", "--keys", public)
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertIn("piece 2 (data) has no SHA-256", result.stdout)
        self.assertNotIn("piece 1 (p)", result.stdout)
        self.assertIn("WARNING: ldb2017rtmx64.upd has no SHA-256 setting", result.stdout)

    def test_only_a_p256_key_signs(self):
        from cryptography.hazmat.primitives import serialization
        from cryptography.hazmat.primitives.asymmetric import ec
        path = os.path.join(SCRATCH, "p384.pem")
        with open(path, "wb") as f:
            f.write(ec.generate_private_key(ec.SECP384R1()).private_bytes(
                serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                serialization.NoEncryption()))
        listed = MARK + b"0,1,0,x,20261201_0000,V\r\n1,p\r\n"
        self.write_list(listed)
        result = run("sign", self.list, path)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("not an ECDSA P-256 key", result.stderr)
        with open(self.list, "rb") as f:
            self.assertEqual(f.read(), listed)
        self.assertFalse(os.path.exists(os.path.join(self.folder, "vtupdaterlist.sig")))

    def test_sign_raises_the_serial_and_sets_the_expiry(self):
        key, public = self.keygen("k.pem")
        self.write_list(MARK + b"0,1,0,x,20261201_0000,V\r\n1,Velto320Install\r\n")
        self.assertEqual(run("pin", self.list, self.folder).returncode, 0)

        def settings():
            with open(self.list, "rb") as f:
                lines = f.read()[3:].split(b"\r\n")
            return {l.split(b",")[1].decode(): l.split(b",")[2].decode() for l in lines
                    if l.startswith(b"-2,List")}

        self.assertEqual(run("sign", self.list, key, "--expires", "10").returncode, 0)
        first = settings()
        self.assertRegex(first["ListSerial"], r"^20[0-9]{10}$")
        self.assertRegex(first["ListExpires"], r"^20[0-9]{6}_[0-9]{4}$")
        result = run("check", self.list, "--keys", public)
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertIn("expires at %s UTC, within 14 days" % first["ListExpires"], result.stdout)
        self.assertEqual(run("sign", self.list, key, "--no-expiry").returncode, 0)
        self.assertEqual(settings(), {"ListSerial": str(int(first["ListSerial"]) + 1)})
        self.assertEqual(run("check", self.list, "--keys", public).returncode, 0)
        result = run("sign", self.list, key, "--serial", "7")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("below the list's", result.stderr)
        self.assertEqual(sorted(os.listdir(self.folder)), sorted(list(self.files) + [
            "vtupdaterlist.upd", "vtupdaterlist.sig"]), "no temporary file stays")

    def test_a_passphrase_comes_from_the_terminal_or_the_environment(self):
        path = os.path.join(SCRATCH, "p.pem")
        env = dict(os.environ, VELTO_PASS="s3cret")
        result = subprocess.run([sys.executable, TOOL, "keygen", path, "--passphrase-env",
                                 "VELTO_PASS"], capture_output=True, text=True, env=env)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.write_list(MARK + b"0,1,0,x,20261201_0000,V\r\n1,p\r\n")
        rows = [("VELTO_PASS", "s3cret", 0, "signed"),
                ("VELTO_PASS", "wrong", 1, "the passphrase does not open"),
                (None, None, 1, "protected by a passphrase")]
        for name, value, status, text in rows:
            with self.subTest(text):
                env = dict(os.environ, **({name: value} if name else {}))
                args = ["--passphrase-env", name] if name else []
                result = subprocess.run([sys.executable, TOOL, "sign", self.list, path] + args,
                                        capture_output=True, text=True, env=env,
                                        stdin=subprocess.DEVNULL)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertIn(text, result.stdout + result.stderr)
                self.assertNotIn("Traceback", result.stderr)


class ProxyIni(unittest.TestCase):
    ARGS = ["proxy-ini", "--server", "p.example", "--port", "3128", "--user", "u"]

    def test_the_password_comes_from_stdin_or_the_environment_never_the_command_line(self):
        # Not taken for --password-env either: HOME is a variable that is always set.
        self.assertNotEqual(run(*self.ARGS, "--password", "HOME").returncode, 0)
        tool = [sys.executable, TOOL] + self.ARGS
        piped = subprocess.run(tool, input="secret\n", capture_output=True, text=True, timeout=60)
        from_env = subprocess.run(tool + ["--password-env", "VT_PW"], capture_output=True,
                                  text=True, timeout=60, env=dict(os.environ, VT_PW="secret"))
        for result in (piped, from_env):
            self.assertEqual(result.returncode, 0, result.stderr)
            a4 = [line for line in result.stdout.splitlines() if line.startswith("A4=")]
            # The key character, then one pair per ASCII character: six, encoded.
            self.assertEqual([len(line) for line in a4], [len("A4=") + 1 + 2 * 6])
            self.assertNotIn("secret", result.stdout + result.stderr)
        # A file that was readable by others before is not after.
        path = os.path.join(SCRATCH, "Proxy.ini")
        os.makedirs(SCRATCH, exist_ok=True)
        with open(path, "w") as f:
            f.write("old")
        os.chmod(path, 0o644)
        result = subprocess.run(tool + ["-o", path], input="secret\n", capture_output=True,
                                text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])

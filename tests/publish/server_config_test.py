#!/usr/bin/env python3
"""server/nginx.conf serves /updater/ over plain HTTP as well as HTTPS and sends every other
plain-HTTP request to HTTPS. Runs it with nginx on 127.0.0.1, rewritten only where a test
must (ports, certificate, served folder, logs).
  server_config_test.py <server folder> <scratch>"""
import http.client
import os
import shutil
import socket
import ssl
import subprocess
import sys
import time

server, scratch = sys.argv[1:3]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(os.path.join(scratch, "updater"))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                    "-nodes", "-days", "2", "-subj", "/CN=localhost", "-keyout", scratch + "/key.pem",
                    "-out", scratch + "/cert.pem"], check=True, capture_output=True, timeout=60)
    for name, data in (("vtupdaterlist.upd", b"0,1\r\n"), ("piece.upd", b"0123456789")):
        with open(os.path.join(scratch, "updater", name), "wb") as f:
            f.write(data)
    plain, secure = free_port(), free_port()
    with open(os.path.join(server, "nginx.conf")) as f:
        config = f.read()
    user = "user root root;\n" if os.geteuid() == 0 else ""
    for old, new in [("worker_processes auto;", user + "worker_processes 1;\ndaemon off;\npid %s/nginx.pid;\n"
                      "error_log %s/error.log;" % (scratch, scratch)),
                     ("sendfile on;", "sendfile on;\n  access_log off;"),
                     ("listen 443 ssl;", "listen 127.0.0.1:%d ssl;" % secure),
                     ("listen 80;", "listen 127.0.0.1:%d;" % plain),
                     ("/etc/ssl/velto/fullchain.pem", scratch + "/cert.pem"),
                     ("/etc/ssl/velto/privkey.pem", scratch + "/key.pem")]:
        assert old in config, old
        config = config.replace(old, new)
    with open(os.path.join(scratch, "nginx.conf"), "w") as f:
        f.write("\n".join(l for l in config.split("\n") if "[::]" not in l))
    with open(os.path.join(server, "velto-updater.conf")) as f, \
            open(os.path.join(scratch, "velto-updater.conf"), "w") as out:
        out.write(f.read().replace("/srv/velto/updater/", scratch + "/updater/"))
    nginx = subprocess.Popen(["nginx", "-c", scratch + "/nginx.conf", "-p", scratch + "/"],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    tls = ssl.create_default_context()
    tls.check_hostname, tls.verify_mode = False, ssl.CERT_NONE
    rows = [  # scheme, path, Range, status, Location, Cache-Control, body
        ("http", "/updater/vtupdaterlist.upd", None, 200, None, "no-store", b"0,1\r\n"),
        ("http", "/updater/piece.upd", "bytes=4-", 206, None, "public, max-age=86400", b"456789"),
        ("https", "/updater/vtupdaterlist.upd", None, 200, None, "no-store", b"0,1\r\n"),
        ("http", "/other", None, 301, "https://localhost/other", None, None)]
    failures = 0
    try:
        deadline = time.time() + 10
        while time.time() < deadline and socket.socket().connect_ex(("127.0.0.1", plain)) != 0:
            time.sleep(0.1)
        for scheme, path, byte_range, *expected in rows:
            connection = (http.client.HTTPSConnection("127.0.0.1", secure, timeout=10, context=tls)
                          if scheme == "https" else http.client.HTTPConnection("127.0.0.1", plain, timeout=10))
            connection.request("GET", path, headers=dict({"Host": "localhost"},
                                                         **({"Range": byte_range} if byte_range else {})))
            answer = connection.getresponse()
            got = [answer.status, answer.getheader("Location"), answer.getheader("Cache-Control"), answer.read()]
            if expected[3] is None:
                got[3] = None
            if got != expected:
                failures += 1
                print("FAILED: %s %s: %r, expected %r" % (scheme, path, got, expected))
    finally:
        nginx.terminate()
        nginx.wait(timeout=10)
    print("%d failures" % failures)
    return 1 if failures else 0


sys.exit(main())

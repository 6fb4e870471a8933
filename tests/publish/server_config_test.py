#!/usr/bin/env python3
"""The reference server configuration (server/nginx.conf) serves /updater/ over plain HTTP
as well as HTTPS, and sends every other plain-HTTP request to HTTPS. Runs it with nginx on
127.0.0.1, rewritten only where a test must: ports, certificate, served folder, log files.
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


def request(port, path, secure, headers=None):
    if secure:
        context = ssl.create_default_context()
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        connection = http.client.HTTPSConnection("127.0.0.1", port, timeout=10, context=context)
    else:
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    connection.request("GET", path, headers=headers or {})
    answer = connection.getresponse()
    body = answer.read()
    connection.close()
    return answer.status, answer.getheader("Location"), answer.getheader("Cache-Control"), body


def main():
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(os.path.join(scratch, "updater"))
    os.makedirs(os.path.join(scratch, "tmp"))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:P-256", "-nodes", "-days", "2", "-subj", "/CN=localhost",
                    "-keyout", os.path.join(scratch, "key.pem"),
                    "-out", os.path.join(scratch, "cert.pem")],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    with open(os.path.join(scratch, "updater", "vtupdaterlist.upd"), "wb") as f:
        f.write(b"0,1,,,20000101_0000,Velto\r\n")
    with open(os.path.join(scratch, "updater", "piece.upd"), "wb") as f:
        f.write(b"0123456789")
    plain, secure = free_port(), free_port()
    with open(os.path.join(server, "nginx.conf")) as f:
        config = f.read()
    for old, new in [
            ("worker_processes auto;", "worker_processes 1;\ndaemon off;\npid %s/nginx.pid;\n"
             "error_log %s/error.log;" % (scratch, scratch)),
            ("sendfile on;", "sendfile on;\n  access_log off;\n  client_body_temp_path %s/tmp;"
             % scratch),
            ("listen 443 ssl;", "listen 127.0.0.1:%d ssl;" % secure),
            ("listen 80;", "listen 127.0.0.1:%d;" % plain),
            ("/etc/ssl/velto/fullchain.pem", os.path.join(scratch, "cert.pem")),
            ("/etc/ssl/velto/privkey.pem", os.path.join(scratch, "key.pem"))]:
        assert old in config, old
        config = config.replace(old, new)
    config = "\n".join(l for l in config.split("\n") if "[::]" not in l)
    if os.geteuid() == 0:
        import grp
        import pwd
        config = "user %s %s;\n" % (pwd.getpwuid(os.getuid()).pw_name,
                                    grp.getgrgid(os.getgid()).gr_name) + config
    with open(os.path.join(server, "velto-updater.conf")) as f:
        locations = f.read().replace("/srv/velto/updater/", scratch + "/updater/")
    with open(os.path.join(scratch, "nginx.conf"), "w") as f:
        f.write(config)
    with open(os.path.join(scratch, "velto-updater.conf"), "w") as f:
        f.write(locations)
    process = subprocess.Popen(["nginx", "-c", os.path.join(scratch, "nginx.conf"),
                                "-p", scratch + "/"], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    failures = []
    try:
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", plain), timeout=1).close()
                break
            except OSError:
                time.sleep(0.1)
        rows = [
            # port, secure, path, headers, status, location, cache, body
            (plain, False, "/updater/vtupdaterlist.upd", None, 200, None, "no-store", None),
            (plain, False, "/updater/piece.upd", {"Range": "bytes=4-"}, 206, None,
             "public, max-age=86400", b"456789"),
            (secure, True, "/updater/vtupdaterlist.upd", None, 200, None, "no-store", None),
            (plain, False, "/other", None, 301, "https://localhost/other", None, None),
        ]
        for port, tls, path, headers, status, location, cache, body in rows:
            got = request(port, path, tls, dict(headers or {}, Host="localhost"))
            expected = (status, location, cache)
            if got[:3] != expected or (body is not None and got[3] != body):
                failures.append("%s %s: %r, expected %r" % ("https" if tls else "http", path,
                                                             got, expected))
    finally:
        process.terminate()
        process.wait(timeout=10)
    for failure in failures:
        print("FAILED: " + failure)
    print("%d failure%s" % (len(failures), "" if len(failures) == 1 else "s"))
    return 1 if failures else 0


sys.exit(main())

#!/usr/bin/python3
"""Starts and stops the test servers, each in its own folder of the build tree.

  serverctl.py start update DIR
  serverctl.py start nginx DIR
  serverctl.py start tls DIR
  serverctl.py start proxy DIR --upstream UPDATE_DIR --user NAME --password TEXT
  serverctl.py stop KIND DIR

Every server listens on 127.0.0.1 on a port the system picks; the port is published in
DIR/port. The served folder is DIR/root, reached below "/updater/". Requests are logged
to DIR/requests.log, one line per request, tab-separated:
  method  target  host  range  if-range  status  body-bytes
(an absent value is "-" from the update server and empty from nginx). The proxy (tinyproxy with BasicAuth, chained to the update
server as its upstream) keeps DIR/credentials (user name, then password, one a line).
The TLS server (nginx with ssl) makes its own test authority with openssl in DIR/pki
(ca.der is the authority the tests trust) and serves DIR/root on three ports: DIR/port
with a certificate of that authority for localhost, 127.0.0.1, updates.velto.example and
updates-test.velto.example; DIR/port-other-authority with one of another authority; and
DIR/port-other-name with one of the test authority for another name only.
Only the process recorded in DIR/pid is ever stopped.

Both scripts run under Debian's /usr/bin/python3 (tools/install-deps), not the first
python3 on PATH: a version manager's shim there costs some tenths of a second per start,
and a test run starts and stops a dozen servers.
"""

import argparse
import os
import pwd
import grp
import signal
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
START_DEADLINE = 10.0
STOP_DEADLINE = 5.0
PORT_ATTEMPTS = 20


def write_text(path, text):
    temporary = path + ".tmp"
    with open(temporary, "w", encoding="utf-8") as handle:
        handle.write(text)
    os.replace(temporary, path)


def read_pid(folder):
    try:
        with open(os.path.join(folder, "pid"), encoding="utf-8") as handle:
            return int(handle.read().strip())
    except (OSError, ValueError):
        return None


def is_ours(pid, folder):
    """Whether pid is alive and was started for this folder (its command line names it)."""
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as handle:
            return os.fsencode(folder) in handle.read()
    except OSError:
        return False


def listening_ports(pid):
    """The TCP ports on which pid holds a listening socket (from /proc)."""
    inodes = set()
    try:
        for fd in os.listdir("/proc/%d/fd" % pid):
            try:
                link = os.readlink("/proc/%d/fd/%s" % (pid, fd))
            except OSError:
                continue
            if link.startswith("socket:["):
                inodes.add(link[8:-1])
    except OSError:
        return set()
    ports = set()
    with open("/proc/net/tcp", encoding="ascii") as table:
        for line in table.readlines()[1:]:
            fields = line.split()
            if fields[3] == "0A" and fields[9] in inodes:
                ports.add(int(fields[1].split(":")[1], 16))
    return ports


def free_port():
    # The port may be taken again before the server binds it; start() then retries.
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def spawn(folder, command):
    with open(os.path.join(folder, "server.out"), "ab") as output:
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=output,
                                   stderr=subprocess.STDOUT, start_new_session=True)
    write_text(os.path.join(folder, "pid"), "%d\n" % process.pid)
    return process


def wait_listening(process, port):
    deadline = time.monotonic() + START_DEADLINE
    while time.monotonic() < deadline:
        if process.poll() is not None:
            return False
        if port in listening_ports(process.pid):
            return True
        time.sleep(0.05)
    return False


def stop(folder):
    pid = read_pid(folder)
    if pid is None or not is_ours(pid, folder):
        return
    try:
        os.kill(pid, signal.SIGTERM)
    except OSError:
        return
    deadline = time.monotonic() + STOP_DEADLINE
    while time.monotonic() < deadline and is_ours(pid, folder):
        time.sleep(0.05)
    if is_ours(pid, folder):
        os.kill(pid, signal.SIGKILL)
    try:
        os.remove(os.path.join(folder, "pid"))
    except OSError:
        pass


def start_update(folder, _args):
    port_file = os.path.join(folder, "port")
    if os.path.exists(port_file):
        os.remove(port_file)
    process = spawn(folder, [sys.executable, os.path.join(HERE, "update_server.py"),
                             "--root", os.path.join(folder, "root"), "--port-file", port_file,
                             "--log", os.path.join(folder, "requests.log"),
                             "--tunnel", os.path.join(os.path.dirname(folder), "tls", "port")])
    deadline = time.monotonic() + START_DEADLINE
    while time.monotonic() < deadline:
        if os.path.exists(port_file):
            return True
        if process.poll() is not None:
            return False
        time.sleep(0.05)
    return False


def user_directive():
    if os.geteuid() != 0:
        return ""
    # Workers read the served files as the user that runs the tests.
    return "user %s %s;\n" % (pwd.getpwuid(os.getuid()).pw_name, grp.getgrgid(os.getgid()).gr_name)


def nginx_config(folder, port):
    return """%(user)sworker_processes 1;
daemon off;
pid %(dir)s/nginx.pid;
error_log %(dir)s/error.log warn;
events { worker_connections 64; }
http {
  log_format velto escape=none "$request_method\\t$request_uri\\t$host\\t$http_range\\t$http_if_range\\t$status\\t$body_bytes_sent";
  access_log %(dir)s/requests.log velto;
  client_body_temp_path %(dir)s/tmp/body;
  proxy_temp_path %(dir)s/tmp/proxy;
  fastcgi_temp_path %(dir)s/tmp/fastcgi;
  uwsgi_temp_path %(dir)s/tmp/uwsgi;
  scgi_temp_path %(dir)s/tmp/scgi;
  types { }
  default_type application/octet-stream;
%(server)s}
""" % {"user": user_directive(), "dir": folder, "server": nginx_server_block(folder, port)}


def nginx_server_block(folder, port):
    return """  server {
    listen 127.0.0.1:%d;
    location /updater/ { alias %s/root/; }
  }
""" % (port, folder)


def start_nginx(folder, _args):
    os.makedirs(os.path.join(folder, "tmp"), exist_ok=True)
    for _ in range(PORT_ATTEMPTS):
        port = free_port()
        config = os.path.join(folder, "nginx.conf")
        write_text(config, nginx_config(folder, port))
        process = spawn(folder, ["nginx", "-c", config, "-p", folder + "/"])
        if wait_listening(process, port):
            write_text(os.path.join(folder, "port"), "%d\n" % port)
            return True
        stop(folder)
    return False


def openssl(*arguments):
    subprocess.run(["openssl"] + list(arguments), check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def has_full_length_signature(cert):
    """Whether r and s of the certificate's ECDSA signature both take all 32 bytes. Wine's
    crypt32 rejects a signature with a shorter r or s (about one in 128 signatures) as
    not valid, which would fail every TLS test of the build tree that drew it."""
    from cryptography import x509
    from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature
    with open(cert, "rb") as f:
        r, s = decode_dss_signature(x509.load_pem_x509_certificate(f.read()).signature)
    return r.bit_length() > 248 and s.bit_length() > 248


def signed_until_full_length(sign, cert):
    # ECDSA signs with a fresh random number each time: a few tries are plenty.
    for _ in range(20):
        sign()
        if has_full_length_signature(cert):
            return
    raise RuntimeError("no full-length signature for " + cert)


def make_authority(pki, name):
    key, cert = os.path.join(pki, name + ".key"), os.path.join(pki, name + ".pem")
    signed_until_full_length(lambda: openssl(
        "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
        "-keyout", key, "-out", cert, "-days", "30", "-subj", "/CN=Velto Test " + name,
        "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign"), cert)
    return key, cert


def make_server_certificate(pki, name, authority, names):
    key, cert = os.path.join(pki, name + ".key"), os.path.join(pki, name + ".pem")
    request, extensions = os.path.join(pki, name + ".csr"), os.path.join(pki, name + ".ext")
    openssl("req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
            "-keyout", key, "-out", request, "-subj", "/CN=" + names[0])
    write_text(extensions, "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n"
               "subjectAltName=" + ",".join(
                   ("IP:" if n[0].isdigit() else "DNS:") + n for n in names) + "\n")
    signed_until_full_length(lambda: openssl(
        "x509", "-req", "-in", request, "-CA", authority[1], "-CAkey", authority[0],
        "-CAcreateserial", "-out", cert, "-days", "30", "-extfile", extensions), cert)
    return key, cert


def make_pki(pki):
    """The test authority, another one, and the three server certificates (made once per
    build tree; the private keys stay there and are never printed)."""
    if os.path.exists(os.path.join(pki, "ca.der")):
        return
    os.makedirs(pki, exist_ok=True)
    authority = make_authority(pki, "authority")
    other = make_authority(pki, "other-authority")
    names = ["localhost", "127.0.0.1", "updates.velto.example", "updates-test.velto.example"]
    make_server_certificate(pki, "server", authority, names)
    make_server_certificate(pki, "server-other-authority", other, names)
    make_server_certificate(pki, "server-other-name", authority, ["other.velto.invalid"])
    openssl("x509", "-in", authority[1], "-outform", "DER", "-out",
            os.path.join(pki, "ca.der.tmp"))
    os.replace(os.path.join(pki, "ca.der.tmp"), os.path.join(pki, "ca.der"))


TLS_PORTS = (("port", "server"), ("port-other-authority", "server-other-authority"),
             ("port-other-name", "server-other-name"))


def start_tls(folder, _args):
    pki = os.path.join(folder, "pki")
    make_pki(pki)
    os.makedirs(os.path.join(folder, "tmp"), exist_ok=True)
    for _ in range(PORT_ATTEMPTS):
        ports = [free_port() for _ in TLS_PORTS]
        servers = "".join("""  server {
    listen 127.0.0.1:%d ssl;
    ssl_certificate %s/%s.pem;
    ssl_certificate_key %s/%s.key;
    location /updater/ { alias %s/root/; }
  }
""" % (port, pki, cert, pki, cert, folder) for port, (_, cert) in zip(ports, TLS_PORTS))
        config = os.path.join(folder, "nginx.conf")
        write_text(config, nginx_config(folder, ports[0]).replace(
            nginx_server_block(folder, ports[0]), servers))
        process = spawn(folder, ["nginx", "-c", config, "-p", folder + "/"])
        if all(wait_listening(process, port) for port in ports):
            for port, (port_file, _) in zip(ports, TLS_PORTS):
                write_text(os.path.join(folder, port_file), "%d\n" % port)
            return True
        stop(folder)
    return False


def start_proxy(folder, args):
    with open(os.path.join(args.upstream, "port"), encoding="ascii") as handle:
        upstream_port = int(handle.read().strip())
    write_text(os.path.join(folder, "credentials"), "%s\n%s\n" % (args.user, args.password))
    log = os.path.join(folder, "tinyproxy.log")
    open(log, "a").close()
    identity = ""
    if os.geteuid() == 0:
        # tinyproxy will not keep root; the log must stay writable for the user it takes.
        os.chown(log, pwd.getpwnam("nobody").pw_uid, -1)
        identity = "User nobody\nGroup %s\n" % grp.getgrgid(pwd.getpwnam("nobody").pw_gid).gr_name
    for _ in range(PORT_ATTEMPTS):
        port = free_port()
        config = os.path.join(folder, "tinyproxy.conf")
        write_text(config, """%sPort %d
Listen 127.0.0.1
Timeout 30
MaxClients 16
Allow 127.0.0.1
BasicAuth %s %s
Upstream http 127.0.0.1:%d
DisableViaHeader Yes
LogFile "%s"
LogLevel Info
""" % (identity, port, args.user, args.password, upstream_port, log))
        process = spawn(folder, ["tinyproxy", "-d", "-c", config])
        if wait_listening(process, port):
            write_text(os.path.join(folder, "port"), "%d\n" % port)
            return True
        stop(folder)
    return False


STARTERS = {"update": start_update, "nginx": start_nginx, "proxy": start_proxy,
            "tls": start_tls}


def main():
    parser = argparse.ArgumentParser(description="Starts and stops the test servers.")
    parser.add_argument("action", choices=["start", "stop"])
    parser.add_argument("kind", choices=sorted(STARTERS))
    parser.add_argument("folder")
    parser.add_argument("--upstream", help="folder of the update server (proxy only)")
    parser.add_argument("--user", default="")
    parser.add_argument("--password", default="")
    args = parser.parse_args()
    folder = os.path.abspath(args.folder)

    stop(folder)  # a server left behind by an earlier run of this build tree
    if args.action == "stop":
        return 0
    os.makedirs(os.path.join(folder, "root"), exist_ok=True)
    open(os.path.join(folder, "requests.log"), "a").close()
    if STARTERS[args.kind](folder, args):
        print("%s listening on 127.0.0.1:%s" % (args.kind, open(os.path.join(folder, "port")).read().strip()))
        return 0
    stop(folder)
    sys.stderr.write("%s did not start; see %s/server.out\n" % (args.kind, folder))
    return 1


if __name__ == "__main__":
    sys.exit(main())

"""The proxy-ini command of velto-publish: writes the machine-wide Proxy.ini that the setup
program reads (ProgramData\\Lumet\\Proxy.ini), with its values encoded as the program
expects them. The password never comes from the command line (other users of the PC see
command lines): it is read from standard input, or from the environment variable named
by --password-env."""
import getpass
import os
import secrets
import sys

KEY_CHARACTERS = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
DIGITS = "0123456789ABCDEF"


def _bit(value, index):
    return (value >> index) & 1


def _scrambled(e):
    # The pair's byte d for which the program's decoder yields e.
    return (_bit(e, 7) << 4) | _bit(e, 6) | ((_bit(e, 5) ^ 1) << 6) | (_bit(e, 4) << 1) | \
        (_bit(e, 3) << 7) | ((_bit(e, 2) ^ 1) << 5) | (_bit(e, 1) << 2) | (_bit(e, 0) << 3)


def encode(text, key_character=None):
    """text as the program decodes it: a key character, then per UTF-16 unit a group of
    one to three bytes (all but the last with the top bit set), each byte as two hex
    digits, low digit first."""
    key_character = key_character or secrets.choice(KEY_CHARACTERS)
    key = (ord(key_character) - 1) % 16
    units = text.encode("utf-16-le")
    out = [key_character]
    for i in range(0, len(units), 2):
        value = units[i] | (units[i + 1] << 8)
        group = []
        if value >= 0x4000:
            group.append(0x80 | (value >> 14))
        if value >= 0x80:
            group.append(0x80 | ((value >> 7) & 0x7F))
        group.append(value & 0x7F)
        for byte in group:
            d = _scrambled(byte ^ (key * 16) ^ key)
            out.append(DIGITS[d & 0xF] + DIGITS[d >> 4])
    return "".join(out)


def _password(args):
    if args.password_env:
        value = os.environ.get(args.password_env)
        if value is None:
            raise SystemExit("velto-publish: %s is not set" % args.password_env)
        return value
    if sys.stdin.isatty():
        return getpass.getpass("proxy password: ")
    line = sys.stdin.readline()
    return line.rstrip("\r\n")


def cmd_proxy_ini(args):
    for name, value in (("server", args.server), ("port", args.port), ("user", args.user)):
        if value is not None and (len(value) > 255 or any(c in value for c in "\r\n")):
            raise SystemExit("velto-publish: the %s is longer than 255 characters or "
                             "holds a line end" % name)
    if not args.port.isdigit() or not 0 < int(args.port) < 65536:
        raise SystemExit("velto-publish: the port must be a number from 1 to 65535")
    lines = ["[ProxySetting]", "ProxyType=3", "ProtocolType=%d" % (1 if args.https_as_http else 0),
             "A1=" + encode(args.server), "A2=" + encode(args.port)]
    if args.user is not None:
        password = _password(args)
        if len(password) > 255:
            raise SystemExit("velto-publish: the password is longer than 255 characters")
        lines += ["AuthType=1", "A3=" + encode(args.user), "A4=" + encode(password)]
    data = ("\r\n".join(lines) + "\r\n").encode("ascii")
    if args.output in (None, "-"):
        sys.stdout.buffer.write(data)
        return 0
    # Readable by its owner alone from its first byte, whatever an earlier file allowed: it
    # carries a credential. Written beside and renamed over, never cut short in place.
    args.write(args.output, data, mode=0o600)
    return 0


def add_parser(sub, write):
    p = sub.add_parser("proxy-ini", help="write a Proxy.ini for the PCs of an office",
                       allow_abbrev=False)
    p.add_argument("--server", required=True, help="the proxy's host name or address")
    p.add_argument("--port", required=True)
    p.add_argument("--user", help="proxy user name; the password is read from standard "
                                  "input or from --password-env")
    p.add_argument("--password-env", metavar="NAME",
                   help="environment variable that holds the password")
    p.add_argument("--https-as-http", action="store_true",
                   help="fetch the https:// update server over plain http (ProtocolType 1)")
    p.add_argument("--output", "-o", help="file to write (default: standard output)")
    p.set_defaults(run=cmd_proxy_ini, write=write)

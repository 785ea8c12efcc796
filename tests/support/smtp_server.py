# A real SMTP server for the mail tests: aiosmtpd on 127.0.0.1, a free port printed on the
# first line of stdout. Each message goes to OUTDIR/N.txt: "MECHANISM login" (or "-"), the
# envelope sender, the recipients, then the raw message. With --login USER:PASSWORD, AUTH is
# offered and only that pair is accepted; every AUTH goes to OUTDIR/auth.log as "tls LOGIN user"
# or "plain LOGIN user" (AUTH is offered in clear too, so that a client that logs in before TLS
# shows). With --cert CERT --key KEY, STARTTLS is offered; with --implicit-tls as well, TLS
# starts with the connection.
import argparse, os, signal, socket, ssl, sys, threading, warnings
from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult

warnings.simplefilter("ignore", DeprecationWarning)
parser = argparse.ArgumentParser()
parser.add_argument("outdir")
parser.add_argument("--login")
parser.add_argument("--cert")
parser.add_argument("--key")
parser.add_argument("--implicit-tls", action="store_true")
args = parser.parse_args()

class Handler:
    count = 0
    async def handle_DATA(self, server, session, envelope):
        Handler.count += 1
        login = getattr(session, "quillomet_login", "-") if session.authenticated else "-"
        path = os.path.join(args.outdir, "%d.txt" % Handler.count)
        with open(path + ".part", "wb") as f:
            f.write(("%s\n%s\n%s\n" % (login, envelope.mail_from, ",".join(envelope.rcpt_tos))).encode())
            f.write(envelope.original_content)
        os.rename(path + ".part", path)
        return "250 OK"

def authenticator(server, session, envelope, mechanism, auth_data):
    user, password = args.login.split(":", 1)
    secure = server.transport.get_extra_info("ssl_object") is not None
    with open(os.path.join(args.outdir, "auth.log"), "a") as f:
        f.write("%s %s %s\n" % ("tls" if secure else "plain", mechanism, auth_data.login.decode()))
    ok = auth_data.login.decode() == user and auth_data.password.decode() == password
    if ok:
        session.quillomet_login = "%s %s" % (mechanism, user)
    return AuthResult(success=ok, handled=False)

sock = socket.socket()
sock.bind(("127.0.0.1", 0))
port = sock.getsockname()[1]
sock.close()
kwargs = {}
if args.login:
    kwargs = dict(authenticator=authenticator, auth_require_tls=False, auth_required=False)
if args.cert:
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(args.cert, args.key)
    if args.implicit_tls:
        kwargs["ssl_context"] = context
    else:
        kwargs["tls_context"] = context
controller = Controller(Handler(), hostname="127.0.0.1", port=port, **kwargs)
controller.start()
print(port, flush=True)
stop = threading.Event()
signal.signal(signal.SIGTERM, lambda *a: stop.set())
try:
    sys.stdin.read()  # ends when the test closes our stdin or dies
finally:
    controller.stop()

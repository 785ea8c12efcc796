# A real SMTP server for the mail tests: aiosmtpd on 127.0.0.1, a free port printed on the
# first line of stdout. Each message goes to OUTDIR/N.txt: "MECHANISM login" (or "-"), the
# envelope sender, the recipients, then the raw message. With --login USER:PASSWORD, AUTH is
# offered and only that pair is accepted.
import argparse, os, signal, socket, sys, threading, warnings
from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult

warnings.simplefilter("ignore", DeprecationWarning)
parser = argparse.ArgumentParser()
parser.add_argument("outdir")
parser.add_argument("--login")
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
controller = Controller(Handler(), hostname="127.0.0.1", port=port, **kwargs)
controller.start()
print(port, flush=True)
stop = threading.Event()
signal.signal(signal.SIGTERM, lambda *a: stop.set())
try:
    sys.stdin.read()  # ends when the test closes our stdin or dies
finally:
    controller.stop()

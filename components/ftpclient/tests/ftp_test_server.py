"""A real FTP server on loopback for the FTP client tests (pyftpdlib).

Serves one root folder with the update server's account. The port is chosen
by the system and written to --port-file once the server listens. Faults:
  --refuse-login      the account's password is not accepted
  --cut-after N       a download's data connection ends after N bytes, and the
                      server still reports the transfer complete
  --stall-after N     after N bytes of a download the server stops answering
  --dos-listing       LIST replies use the DOS/IIS layout
"""
import argparse
import os
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

USER = "kestmoor"
PASSWORD = "copperfinch"


class LimitedProducer:
    def __init__(self, inner, limit, stall):
        self.inner = inner
        self.limit = limit
        self.stall = stall
        self.sent = 0
        self.pending = b""

    def more(self):
        if self.sent >= self.limit:
            if self.stall:
                time.sleep(600)
            return b""
        data = self.pending or self.inner.more()
        self.pending = b""
        room = self.limit - self.sent
        if len(data) > room:
            self.pending = data[room:]
            data = data[:room]
        self.sent += len(data)
        return data


def make_handler(options):
    class Handler(FTPHandler):
        auth_failed_timeout = 0.05
        # The faults work on the producer, which sendfile() would go around.
        use_sendfile = False

        def push_dtp_data(self, data, isproducer=False, file=None, cmd=None):
            limit = options.cut_after if options.cut_after >= 0 else options.stall_after
            if cmd == "RETR" and isproducer and limit >= 0:
                data = LimitedProducer(data, limit, options.stall_after >= 0)
            return super().push_dtp_data(data, isproducer, file, cmd)

        def format_list(self, basedir, listing, ignore_err=True):
            if not options.dos_listing:
                return super().format_list(basedir, listing, ignore_err)
            return self.dos_lines(basedir, listing)

        def dos_lines(self, basedir, listing):
            for name in listing:
                st = os.stat(os.path.join(basedir, name))
                stamp = time.strftime("%m-%d-%y  %I:%M%p", time.localtime(st.st_mtime))
                if os.path.isdir(os.path.join(basedir, name)):
                    yield ("%s       <DIR>          %s\r\n" % (stamp, name)).encode("utf8")
                else:
                    yield ("%s %20d %s\r\n" % (stamp, st.st_size, name)).encode("utf8")

    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--refuse-login", action="store_true")
    parser.add_argument("--cut-after", type=int, default=-1)
    parser.add_argument("--stall-after", type=int, default=-1)
    parser.add_argument("--dos-listing", action="store_true")
    options = parser.parse_args()

    authorizer = DummyAuthorizer()
    password = PASSWORD + "-changed" if options.refuse_login else PASSWORD
    authorizer.add_user(USER, password, options.root, perm="elr")
    handler = make_handler(options)
    handler.authorizer = authorizer
    handler.passive_ports = None
    server = FTPServer(("127.0.0.1", 0), handler)
    server.max_cons = 16
    temporary = options.port_file + ".tmp"
    with open(temporary, "w") as out:
        out.write(str(server.address[1]))
    os.rename(temporary, options.port_file)
    server.serve_forever(timeout=0.2)


if __name__ == "__main__":
    sys.exit(main())

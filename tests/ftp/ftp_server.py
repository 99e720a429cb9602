#!/usr/bin/python3
# A real FTP server for the publishing tests, on 127.0.0.1 and a free port.
# usage: /usr/bin/python3 ftp_server.py HOME USER PASS PORTFILE [--die-after=BYTES]
#        [--read-limit=BYTES_PER_SECOND]
# The port is written to PORTFILE once the server listens; every command the
# server receives goes to PORTFILE.log. With --die-after the whole server
# process ends as soon as a data connection has brought that many bytes, in
# the middle of an upload; with --read-limit uploads arrive no faster.
import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer

home, user, pw, portfile = sys.argv[1:5]
die_after = 0
read_limit = 0
for arg in sys.argv[5:]:
    if arg.startswith("--die-after="):
        die_after = int(arg.split("=", 1)[1])
    elif arg.startswith("--read-limit="):
        read_limit = int(arg.split("=", 1)[1])

logging.basicConfig(filename=portfile + ".log", level=logging.DEBUG)


class DyingDTPHandler(DTPHandler):
    # Small reads, so that the cut falls inside the file.
    ac_in_buffer_size = 1024

    def handle_read(self):
        DTPHandler.handle_read(self)
        if self.tot_bytes_received >= die_after:
            self.file_obj.flush()
            os._exit(3)

    # The base class calls its own handle_read through this name.
    handle_read_event = handle_read


class SlowDTPHandler(ThrottledDTPHandler):
    ac_in_buffer_size = 1024


auth = DummyAuthorizer()
auth.add_user(user, pw, home, perm="elradfmwMT")
FTPHandler.authorizer = auth
FTPHandler.permit_foreign_addresses = False
if die_after > 0:
    FTPHandler.dtp_handler = DyingDTPHandler
elif read_limit > 0:
    SlowDTPHandler.read_limit = read_limit
    FTPHandler.dtp_handler = SlowDTPHandler
srv = FTPServer(("127.0.0.1", 0), FTPHandler)
with open(portfile + ".tmp", "w") as f:
    f.write(str(srv.address[1]))
os.rename(portfile + ".tmp", portfile)
srv.serve_forever()

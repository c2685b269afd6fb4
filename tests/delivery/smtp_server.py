#!/usr/bin/env python3
"""A local SMTP server for the delivery tests, and a reader for the mails it keeps.

  smtp_server.py serve --maildir DIR --user U --password P --ready-file F [--refuse STEP]
      Listens on 127.0.0.1 on a free port, requires AUTH LOGIN, and stores every mail as
      DIR/NNN.eml with DIR/NNN.json (envelope, greeting name, login). The port is written to F
      once the server answers. STEP makes the server refuse one step: auth1 (504 to AUTH LOGIN),
      auth2 (535 after the user name), auth3 (535 after the password), mail, rcpt or data.
      Ends on SIGTERM.

  smtp_server.py dump FILE.eml
      Prints the mail as JSON, parsed by Python's email package: headers, and for every leaf part
      its media type, disposition, file name, transfer encoding and decoded bytes in Base64.
"""
import argparse
import asyncio
import base64
import email
import email.policy
import json
import os
import signal
import socket
import sys
import threading

def serve(args):
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import MISSING, AuthResult

    refuse = args.refuse
    counter = {"n": 0}
    lock = threading.Lock()

    class Handler:
        async def auth_LOGIN(self, server, arguments):
            if refuse == "auth1":
                await server.push("504 5.5.4 Unrecognized authentication type")
                return AuthResult(success=False, handled=True)
            user = await server.challenge_auth("Username:")
            if user is MISSING:
                return AuthResult(success=False, handled=True)
            if refuse == "auth2":
                return AuthResult(success=False, handled=False,
                                  message="535 5.7.8 Unknown user")
            password = await server.challenge_auth("Password:")
            if password is MISSING:
                return AuthResult(success=False, handled=True)
            good = (user.decode() == args.user and password.decode() == args.password
                    and refuse != "auth3")
            return AuthResult(success=good, handled=False, auth_data=user.decode())

        async def handle_MAIL(self, server, session, envelope, address, options):
            if refuse == "mail":
                return "550 5.7.1 Sender refused"
            envelope.mail_from = address
            return "250 OK"

        async def handle_RCPT(self, server, session, envelope, address, options):
            if refuse == "rcpt":
                return "550 5.1.1 Recipient refused"
            envelope.rcpt_tos.append(address)
            return "250 OK"

        async def handle_DATA(self, server, session, envelope):
            if refuse == "data":
                return "554 5.6.0 Message refused"
            with lock:
                counter["n"] += 1
                stem = os.path.join(args.maildir, "%03d" % counter["n"])
            with open(stem + ".eml.part", "wb") as out:
                out.write(envelope.original_content)
            with open(stem + ".json", "w") as out:
                json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos,
                           "helo": session.host_name,
                           "login": session.auth_data}, out)
            os.rename(stem + ".eml.part", stem + ".eml")
            return "250 OK"

    os.makedirs(args.maildir, exist_ok=True)
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    controller = Controller(Handler(), hostname="127.0.0.1", port=port,
                            auth_require_tls=False, auth_required=True)
    controller.start()
    with open(args.ready_file + ".part", "w") as out:
        out.write("%d\n" % port)
    os.rename(args.ready_file + ".part", args.ready_file)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    while not stop.wait(0.2):
        pass
    controller.stop()


def dump(args):
    with open(args.file, "rb") as source:
        message = email.message_from_binary_file(source, policy=email.policy.default)
    parts = []
    for part in message.walk():
        if part.is_multipart():
            continue
        payload = part.get_payload(decode=True) or b""
        parts.append({
            "content_type": part.get_content_type(),
            "disposition": part.get_content_disposition(),
            "filename": part.get_filename(),
            "name_param": part.get_param("name"),
            "transfer_encoding": part.get("Content-Transfer-Encoding", ""),
            "data": base64.b64encode(payload).decode("ascii"),
        })
    json.dump({
        "from": str(message["From"]),
        "to": str(message["To"]),
        "subject": str(message["Subject"]),
        "content_type": message.get_content_type(),
        "parts": parts,
    }, sys.stdout, ensure_ascii=False)


def main():
    parser = argparse.ArgumentParser()
    commands = parser.add_subparsers(dest="command", required=True)
    s = commands.add_parser("serve")
    s.add_argument("--maildir", required=True)
    s.add_argument("--user", required=True)
    s.add_argument("--password", required=True)
    s.add_argument("--ready-file", required=True)
    s.add_argument("--refuse", choices=["auth1", "auth2", "auth3", "mail", "rcpt", "data"])
    d = commands.add_parser("dump")
    d.add_argument("file")
    args = parser.parse_args()
    serve(args) if args.command == "serve" else dump(args)


if __name__ == "__main__":
    main()

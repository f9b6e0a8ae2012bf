#!/usr/bin/python3
"""A local mail server for the notice tests: smtp_sink.py PORT FILE.

Every message it receives becomes one JSON line in FILE (to, subject, body, message_id), the
subject and body decoded; it prints "ready" once it listens and runs until it is stopped.
"""
import email
import email.policy
import json
import signal
import sys
import threading

from aiosmtpd.controller import Controller


class Sink:
    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        msg = email.message_from_bytes(envelope.content, policy=email.policy.default)
        line = json.dumps({
            'from': envelope.mail_from,
            'to': envelope.rcpt_tos,
            'subject': str(msg['subject']),
            'body': msg.get_content(),
            'message_id': str(msg['message-id']),
        }, ensure_ascii=False)
        with self.lock, open(self.path, 'a', encoding='utf-8') as out:
            out.write(line + '\n')
        return '250 OK'


def main():
    controller = Controller(Sink(sys.argv[2]), hostname='127.0.0.1', port=int(sys.argv[1]))
    controller.start()
    print('ready', flush=True)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    stop.wait()
    controller.stop()


if __name__ == '__main__':
    main()

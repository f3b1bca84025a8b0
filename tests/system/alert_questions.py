#!/usr/bin/env python3
"""Questions for the alert's pictures, written as a rule engine writes them,
so that the pictures show programs and hosts a user knows and nothing
connects anywhere: the first on the alert program's standard input, the
others through the socket it serves, as later programs ask.
  alert_questions.py ZEL_ALERT FOLDER everyday|browser
Runs until killed; its questions leave the alert with it."""
import os
import selectors
import socket
import subprocess
import sys
import time

SHELL = ("/usr/bin/bash", 2210)


def question(name, path, pid, peer, port, cmdline, parent=SHELL):
    fields = {
        "caption": f"{name} - TCP Connection Alert!",
        "message": f"{name} created by Unknown is trying to create TCP outgoing connection to {peer} through port:{port}",
        "checkbox": f"Apply my decision to all {name} outgoing traffic",
        "peer": peer, "icon": "", "direction": "outgoing", "host": peer,
        "choices": "60", "port": str(port), "away": "2 30", "path": path,
        "program": name, "company": "Unknown", "protocol": "TCP",
        "pid": str(pid), "user": "ann (1000)", "cmdline": cmdline,
        "parentpid": str(parent[1]), "parent": parent[0],
    }
    return "".join(f"{key}\t{value}\n" for key, value in fields.items()).encode() + b"end\n"


def curl(host):
    return question("curl", "/usr/bin/curl", 2245, host, 443, "curl -O https://example.org/files/report.pdf")


OTHERS = [
    question("Thunderbird", "/usr/lib/thunderbird/thunderbird", 1874, "imap.example.net", 993,
             "/usr/lib/thunderbird/thunderbird", ("/usr/bin/gnome-shell", 1302)),
    question("ssh", "/usr/bin/ssh", 2301, "git.example.org", 22, "ssh git@git.example.org"),
    question("wget", "/usr/bin/wget", 2318, "ftp.example.net", 443, "wget https://ftp.example.net/pub/image.iso"),
]
FIREFOX = question("Mozilla Firefox", "/usr/lib/firefox-esr/firefox-esr", 1920, "www.example.org", 443,
                   "/usr/lib/firefox-esr/firefox-esr", ("/usr/bin/gnome-shell", 1302))
SCENARIOS = {
    # One program with two more of its questions waiting, and another's.
    "everyday": [curl("example.org"), curl("cdn.example.org"), curl("example.org"), OTHERS[0]],
    # A browser opening 20 connections at once among four other programs.
    "browser": [FIREFOX] * 20 + OTHERS + [curl("example.org")],
}


def main():
    alert, folder, scenario = sys.argv[1], sys.argv[2], sys.argv[3]
    questions = SCENARIOS[scenario]
    os.makedirs(folder, exist_ok=True)
    path, lock = os.path.join(folder, "alert.socket"), os.path.join(folder, "alert.lock")
    open(lock, "a").close()
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(path)
    listener.listen(64)
    fd = listener.fileno()
    child = subprocess.Popen([alert, "--serve", path, lock], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             pass_fds=(fd,), preexec_fn=lambda: os.dup2(fd, 3))
    listener.close()
    child.stdin.write(questions[0])
    child.stdin.flush()
    time.sleep(0.5)
    channels = [child.stdout]
    for text in questions[1:]:
        asker = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        asker.connect(path)
        asker.sendall(text)
        channels.append(asker)
        time.sleep(0.05)
    # Reads what the alert says ("alive", "shown", answers) so that it never
    # waits on a full channel; answered channels stay open until the end.
    selector = selectors.DefaultSelector()
    for channel in channels:
        selector.register(channel, selectors.EVENT_READ)
    while selector.get_map():
        for key, _ in selector.select():
            channel = key.fileobj
            data = channel.read1(4096) if channel is child.stdout else channel.recv(4096)
            if not data:
                selector.unregister(channel)


if __name__ == "__main__":
    main()

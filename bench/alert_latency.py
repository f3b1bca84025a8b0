#!/usr/bin/env python3
"""Time from a question to its alert window, as an engine sees it: from the
moment it starts the alert program (no alert running) or connects to the
running one (its window hidden, lingering after its last question) to the
program's "shown" line. Run under a display (xvfb-run) with a window manager.
    bench/alert_latency.py BUILD [RUNS]
"""
import os
import socket
import subprocess
import sys
import tempfile
import time

BUILD = os.path.abspath(sys.argv[1])
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 5
ALERT = os.path.join(BUILD, "alert", "zel-alert")
TEXTS = (b"caption\tNETPEER - TCP Connection Alert!\n"
         b"message\tNETPEER created by Unknown is trying to create TCP outgoing connection to 127.0.0.2 through port:80\n"
         b"peer\t127.0.0.2\ndirection\toutgoing\npath\t/usr/bin/netpeer\npid\t%d\nend\n")


def wait_for(channel, word, limit=10.0):
    """Reads lines until one equals word; the time it came."""
    channel.settimeout(limit)
    pending = b""
    while True:
        data = channel.recv(4096)
        if not data:
            raise RuntimeError("the alert program closed the channel")
        pending += data
        lines = pending.split(b"\n")
        pending = lines.pop()
        if word in lines:
            return time.monotonic()


def ms(seconds):
    return "%d" % round(seconds * 1000)


def main():
    folder = tempfile.mkdtemp()
    cold, warm = [], []
    for run in range(RUNS):
        path = os.path.join(folder, "alert-%d.sock" % run)
        lock = os.path.join(folder, "alert-%d.lock" % run)
        open(lock, "w").close()
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        listener.bind(path)
        listener.listen(128)
        ours, theirs = socket.socketpair()
        # The listener on descriptor 3, where the program looks for it.
        moved = listener.fileno() != 3
        if moved:
            os.dup2(listener.fileno(), 3, inheritable=True)
        else:
            os.set_inheritable(3, True)
        started = time.monotonic()
        program = subprocess.Popen([ALERT, "--serve", path, lock], stdin=theirs, stdout=theirs, pass_fds=(3,))
        if moved:
            os.close(3)
        listener.close()
        theirs.close()
        ours.sendall(TEXTS % 1)
        cold.append(wait_for(ours, b"shown") - started)
        program.wait()  # the starter leaves at once; the alert goes on
        time.sleep(0.6)
        ours.sendall(b"press 2\n")
        wait_for(ours, b"answer 2 0")
        ours.close()
        time.sleep(1.0)  # hidden, lingering
        later = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        started = time.monotonic()
        later.connect(path)
        later.sendall(TEXTS % 2)
        warm.append(wait_for(later, b"shown") - started)
        time.sleep(0.6)
        later.sendall(b"press 2\n")
        wait_for(later, b"answer 2 0")
        later.close()
        while os.path.exists(path):  # until it has left
            time.sleep(0.1)
    print("no alert running (start, then shown): " + ", ".join(ms(t) for t in sorted(cold)) + " ms")
    print("alert running, window hidden (connect, then shown): " + ", ".join(ms(t) for t in sorted(warm)) + " ms")


main()

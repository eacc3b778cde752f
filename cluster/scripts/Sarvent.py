#!/usr/bin/env python3
"""Line-information client of a map server machine.

    Sarvent.py <ip> <port>

Asks the cluster's line-information service at ip:port for this machine's server version
and line number, and writes them to SarventResult/Result.txt beside this script: the
version on line 1, the line number on line 2. The manager runs it at "Start" and reads
that file.

Protocol: one line of text each way. The client sends "LINEINFO <host name>"; the service
answers "<version> <line number>" (two decimal integers). When nothing answers, or the
answer is not two integers, no file is written and the exit code is 1.
"""
import os
import socket
import sys

TIMEOUT_SECONDS = 5.0


def ask(host, port):
    with socket.create_connection((host, port), timeout=TIMEOUT_SECONDS) as connection:
        connection.settimeout(TIMEOUT_SECONDS)
        connection.sendall(("LINEINFO %s\n" % socket.gethostname()).encode("ascii", "replace"))
        answer = b""
        while b"\n" not in answer and len(answer) < 256:
            chunk = connection.recv(256)
            if not chunk:
                break
            answer += chunk
    words = answer.split(b"\n", 1)[0].decode("ascii", "replace").split()
    if len(words) != 2:
        raise ValueError("answer %r is not '<version> <line number>'" % answer[:80])
    return int(words[0]), int(words[1])


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: Sarvent.py <ip> <port>\n")
        return 2
    try:
        port = int(argv[2])
        version, line = ask(argv[1], port)
    except (OSError, ValueError) as error:
        sys.stderr.write("Sarvent.py: no line information from %s:%s: %s\n" % (argv[1], argv[2], error))
        return 1
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "SarventResult")
    os.makedirs(folder, exist_ok=True)
    # Written beside and renamed, so the manager never reads half a file.
    target = os.path.join(folder, "Result.txt")
    with open(target + ".tmp", "w") as result:
        result.write("%d\n%d\n" % (version, line))
    os.replace(target + ".tmp", target)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

#!/usr/bin/env python3
"""TLS in front of a Windows test program's plain HTTP server under Wine.

The Windows test program has no TLS server of its own: it serves plain HTTP
on 127.0.0.1 and starts this relay as a Unix program. The relay accepts TLS
on 127.0.0.1 with the given certificate, connects each connection to the
backend once its handshake is done (so a refused certificate never reaches
the server), relays both ways, and closes both sides when either ends. It
writes its port into PORT_FILE and ends when the backend refuses connections,
that is once the test's server has stopped or the test program has ended:
Wine keeps no handle to a Unix program it starts, and the program is not its
child. It gives up the standard streams it inherited, the test runner's.

usage: tls_relay.py CERT KEY BACKEND_PORT LISTEN_PORT PORT_FILE
"""
import os
import select
import socket
import ssl
import sys
import threading
import time


def relay(client, backend_port):
    try:
        client.do_handshake()
        backend = socket.create_connection(("127.0.0.1", backend_port))
    except (OSError, ssl.SSLError):
        client.close()
        return
    ends = {client: backend, backend: client}
    try:
        while True:
            ready = [client] if client.pending() else select.select(list(ends), [], [])[0]
            for source in ready:
                data = source.recv(65536)
                if not data:
                    return
                ends[source].sendall(data)
    except (OSError, ssl.SSLError):
        pass
    finally:
        backend.close()
        client.close()


def backend_listens(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=5).close()
        return True
    except OSError:
        return False


def main():
    quiet = os.open(os.devnull, os.O_RDWR)
    for stream in (0, 1, 2):
        os.dup2(quiet, stream)
    os.closerange(3, 4096)
    cert, key, backend_port, listen_port, port_file = sys.argv[1:6]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    listener = socket.create_server(("127.0.0.1", int(listen_port)))
    with open(port_file + ".tmp", "w") as out:
        out.write(str(listener.getsockname()[1]))
    os.replace(port_file + ".tmp", port_file)

    def accept():
        while True:
            connection, _ = listener.accept()
            wrapped = context.wrap_socket(connection, server_side=True, do_handshake_on_connect=False)
            threading.Thread(target=relay, args=(wrapped, int(backend_port)), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    while backend_listens(int(backend_port)):
        time.sleep(0.5)


if __name__ == "__main__":
    main()

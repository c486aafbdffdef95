#!/usr/bin/env python3
"""The demo's news feed service: HTTPS on 127.0.0.1 with a certificate of the
build's test authority, which the demo installation trusts. It answers every
request for news with one welcome item whose picture and page it serves too,
so that a newcomer sees a news item on the agent's first start. It never
contacts anything itself.

Usage: demo_news_server.py CERT KEY PICTURE PORT_FILE
The port it listens on (chosen by the system) is written to PORT_FILE once it
accepts connections."""

import http.server
import ssl
import sys

ITEM = """<?xml version="1.0" encoding="UTF-8"?>
<newsfeeds>
\t<item>
\t\t<id>welcome-demo</id>
\t\t<nid>1</nid>
\t\t<title>Welcome to Wardex</title>
\t\t<text>This news item comes from the demo's own news service on this computer.</text>
\t\t<btntext>Read more</btntext>
\t\t<url>https://127.0.0.1:{port}/welcome</url>
\t\t<imageUrl>https://127.0.0.1:{port}/newsfeed/welcome.png</imageUrl>
\t\t<enddate>2099-12-31</enddate>
\t</item>
</newsfeeds>
"""

PAGE = b"""<!DOCTYPE html>
<html><head><title>Wardex demo news</title></head>
<body><h1>Welcome to Wardex</h1>
<p>This page is served by the demo's news service on 127.0.0.1.</p></body></html>
"""


def main():
    cert, key, picture_path, port_file = sys.argv[1:5]
    with open(picture_path, "rb") as picture_file:
        picture = picture_file.read()

    class Handler(http.server.BaseHTTPRequestHandler):
        def send(self, body, content_type):
            self.send_response(200)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0"))
            request = self.rfile.read(min(length, 1 << 20)).decode("utf-8", "replace")
            self.log_message("news request: %s", " ".join(request.split()))
            port = self.server.server_address[1]
            self.send(ITEM.format(port=port).encode(), "text/xml; charset=utf-8")

        def do_GET(self):
            if self.path.startswith("/newsfeed/welcome.png"):
                self.send(picture, "image/png")
            elif self.path.startswith("/welcome"):
                self.send(PAGE, "text/html; charset=utf-8")
            else:
                self.send_error(404)

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    with open(port_file, "w") as out:
        out.write(str(server.server_address[1]))
    server.serve_forever()


if __name__ == "__main__":
    main()

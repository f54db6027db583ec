#!/usr/bin/env python3
"""Evaluates a JavaScript expression in vexa's page over the Chrome DevTools Protocol and prints
its value as JSON. Polls until the page of the application folder is up and, with --until, until
the value is truthy. Only the standard library: a fresh machine has nothing else."""
import argparse, base64, json, os, socket, struct, sys, time, urllib.request


def page_socket(port, suffix):
    with urllib.request.urlopen(f"http://127.0.0.1:{port}/json", timeout=2) as reply:
        for target in json.load(reply):
            if target.get("type") == "page" and target.get("url", "").endswith(suffix):
                return target["webSocketDebuggerUrl"]
    return None


def evaluate(ws_url, expression):
    host_port, path = ws_url[len("ws://"):].split("/", 1)
    host, port = host_port.split(":")
    with socket.create_connection((host, int(port)), timeout=20) as conn:
        key = base64.b64encode(os.urandom(16)).decode()
        conn.sendall((f"GET /{path} HTTP/1.1\r\nHost: {host_port}\r\nUpgrade: websocket\r\n"
                      f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n").encode())
        reply = b""
        while b"\r\n\r\n" not in reply:
            reply += conn.recv(4096)
        if b" 101 " not in reply.split(b"\r\n")[0]:
            raise RuntimeError(reply.decode(errors="replace"))
        rest = reply.split(b"\r\n\r\n", 1)[1]
        message = json.dumps({"id": 1, "method": "Runtime.evaluate", "params": {
            "expression": expression, "awaitPromise": True, "returnByValue": True}}).encode()
        mask = os.urandom(4)
        header = bytes([0x81]) + (bytes([0x80 | len(message)]) if len(message) < 126
                                  else bytes([0x80 | 126]) + struct.pack(">H", len(message)))
        conn.sendall(header + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(message)))

        def take(n):
            nonlocal rest
            while len(rest) < n:
                chunk = conn.recv(65536)
                if not chunk:
                    raise RuntimeError("connection closed")
                rest += chunk
            data, rest = rest[:n], rest[n:]
            return data

        while True:
            first, second = take(2)
            length = second & 0x7F
            if length == 126:
                length = struct.unpack(">H", take(2))[0]
            elif length == 127:
                length = struct.unpack(">Q", take(8))[0]
            payload = json.loads(take(length))
            if payload.get("id") == 1:
                result = payload.get("result", {})
                if "exceptionDetails" in result or "error" in payload:
                    raise RuntimeError(json.dumps(payload))
                return result["result"].get("value")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("port", type=int)
    parser.add_argument("expression")
    parser.add_argument("--page", default="/view/index.html", help="end of the page's address")
    parser.add_argument("--until", action="store_true", help="repeat until the value is truthy")
    parser.add_argument("--timeout", type=float, default=60)
    args = parser.parse_args()
    deadline, last = time.monotonic() + args.timeout, "no page yet"
    while time.monotonic() < deadline:
        try:
            ws_url = page_socket(args.port, args.page)
            if ws_url:
                value = evaluate(ws_url, args.expression)
                if value or not args.until:
                    print(json.dumps(value))
                    return 0
                last = f"value {json.dumps(value)}"
        except Exception as error:  # the program is still starting, or the page is being replaced
            last = str(error)
        time.sleep(0.5)
    print(f"cdp_eval: gave up after {args.timeout} s: {last}", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())

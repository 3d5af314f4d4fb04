#!/usr/bin/env python3
"""Writes the help pages in home/htmlhelp/ from docs/ (run from the top).

The pages are plain HTML that any browser shows: Contents, Overview (the
desktop guide), Scripts (the script language), Servers, Menu Items, the
ASCII table and What's new. Regenerate after editing the documents.
"""
import html
import re
import sys
from pathlib import Path

TOP = Path(__file__).resolve().parents[2]
OUT = TOP / "home" / "htmlhelp"

STYLE = """body{font-family:sans-serif;max-width:60em;margin:1em auto;padding:0 1em;line-height:1.45}
code,pre{font-family:monospace;background:#f4f4f4}pre{padding:.6em;overflow:auto}
table{border-collapse:collapse}td,th{border:1px solid #ccc;padding:.2em .5em;vertical-align:top}
nav a{margin-right:1em}"""

NAV = [("Index.htm", "Contents"), ("Topic1.htm", "Overview"), ("Topic8.htm", "Scripts"),
       ("Topic15.htm", "Servers"), ("Topic22.htm", "Menu Items"), ("Topic2.htm", "ASCII table"),
       ("WhatsNew.htm", "What's new")]


def inline(text):
    out, parts = [], re.split(r"(`[^`]*`)", text)
    for p in parts:
        if p.startswith("`") and p.endswith("`") and len(p) >= 2:
            out.append("<code>" + html.escape(p[1:-1]) + "</code>")
            continue
        p = html.escape(p, quote=False)
        p = re.sub(r"\*\*(.+?)\*\*", r"<b>\1</b>", p)
        p = re.sub(r"(?<![\w*])\*(?!\s)(.+?)\*(?!\w)", r"<i>\1</i>", p)
        p = re.sub(r"!\[([^\]]*)\]\(([^)]*)\)", r'<img alt="\1" src="\2">', p)
        p = re.sub(r"\[([^\]]+)\]\(([^)]*)\)", r'<a href="\2">\1</a>', p)
        out.append(p)
    return "".join(out)


def markdown(text):
    lines, out, i = text.splitlines(), [], 0
    para, items = [], []

    def flush():
        if para:
            out.append("<p>" + inline(" ".join(para)) + "</p>")
            para.clear()
        if items:
            out.append("<ul>" + "".join("<li>" + inline(x) + "</li>" for x in items) + "</ul>")
            items.clear()

    while i < len(lines):
        line = lines[i]
        if line.startswith("```"):
            flush()
            i += 1
            code = []
            while i < len(lines) and not lines[i].startswith("```"):
                code.append(lines[i])
                i += 1
            out.append("<pre>" + html.escape("\n".join(code)) + "</pre>")
        elif m := re.match(r"(#+) (.*)", line):
            flush()
            level = len(m.group(1))
            anchor = re.sub(r"[^a-z0-9 -]", "", m.group(2).lower()).replace(" ", "-")
            out.append(f'<h{level} id="{anchor}">{inline(m.group(2))}</h{level}>')
        elif line.startswith("|"):
            flush()
            rows = []
            while i < len(lines) and lines[i].startswith("|"):
                cells = [c.strip() for c in lines[i].strip().strip("|").split("|")]
                if not all(re.fullmatch(r":?-+:?", c) for c in cells):
                    rows.append(cells)
                i += 1
            i -= 1
            body = "".join("<tr>" + "".join(("<th>" if r == 0 else "<td>") + inline(c) for c in row) + "</tr>"
                           for r, row in enumerate(rows))
            out.append("<table>" + body + "</table>")
        elif re.match(r"\s*([-*]|\d+\.) ", line):
            if para:
                flush()
            items.append(re.sub(r"^\s*([-*]|\d+\.) ", "", line))
        elif line.strip() == "":
            flush()
        elif items and line.startswith("  "):
            items[-1] += " " + line.strip()
        else:
            para.append(line.strip())
        i += 1
    flush()
    return "\n".join(out)


def page(name, title, body):
    nav = "".join(f'<a href="{f}">{t}</a>' for f, t in NAV)
    doc = (f"<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Oxel - {html.escape(title)}</title>"
           f"<style>{STYLE}</style></head><body><nav>{nav}</nav>\n{body}\n</body></html>\n")
    (OUT / name).write_text(doc, encoding="utf-8")


def ascii_table():
    names = ["NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS", "HT", "LF", "VT", "FF", "CR",
             "SO", "SI", "DLE", "DC1 (XON)", "DC2", "DC3 (XOFF)", "DC4", "NAK", "SYN", "ETB", "CAN", "EM",
             "SUB", "ESC", "FS", "GS", "RS", "US"]
    rows = ["<tr><th>Dec</th><th>Hex</th><th>Char</th><th>Key / escape</th></tr>"]
    for c in range(128):
        if c < 32:
            ch, key = names[c], "Ctrl-" + chr(c + 64)
        elif c == 127:
            ch, key = "DEL", ""
        else:
            ch, key = html.escape(chr(c)) if c != 32 else "(space)", ""
        esc = {8: "\\b", 9: "\\t", 10: "\\n", 13: "\\r", 92: "\\\\"}.get(c, f"\\x{c:02x}")
        rows.append(f"<tr><td>{c}</td><td>0x{c:02X}</td><td>{ch}</td><td>{key} <code>{html.escape(esc)}</code></td></tr>")
    return ("<h1>ASCII table</h1><p>The escapes in the last column work in function-key and button texts "
            "and in the texts that script commands send.</p><table>" + "".join(rows) + "</table>")


SERVERS = """# Servers

Oxel runs small servers so that other machines, and the target itself, can
reach the bench. Each has an enable key in the configuration; a server that
cannot start clears its key and says why. Running servers are listed in the
SysTrace pane's caption. Ports below 1024 need privileges on Linux: run with
the capability or choose a port above 1023.

| Server | Default port | Enable key | What it does |
|---|---|---|---|
| Telnet | TCP 8200 (next nine on conflict) | `TELNET_ENABLED` | shares the console with remote users; Ctrl-P starts a local command |
| MONCMD | UDP 777 | `MONCMDSRVR_ENABLED` | runs script command lines, presses keys and buttons |
| TFTP | UDP 69 (`TFTPSRVR_PORT`) | `TFTPSRVR_ENABLED` | serves and receives files |
| FTP | TCP 21 (`FTPSRVR_PORT`) | `FTPSRVR_ENABLED` | file access for targets and hosts |
| DHCP/BOOTP | UDP 67 (`DHCPSRVR_PORT`) | `DHCPSRVR_ENABLED` | hands addresses to targets from its client table |
| SYSLOG | UDP 514 | `SYSLOGSRVR_ENABLED` | shows and logs syslog messages |
| HTTP | TCP 80 | `HTTPSRVR_ENABLED` | files and REST requests |
| WebSocket | TCP 50080 | (with HTTP) | a browser console: lines, keys, buttons, labels |

Starting the program with servers enabled (other than telnet) asks first:
"Ok to allow servers to start up?".
"""

WHATSNEW = """# What's new

- A Linux desktop program (Qt) and `oxel-cli` for terminals and racks share
  one core: every script, server, log and transfer works in both.
- The window keeps the console in whole character cells while you resize it.
- Window keys use Ctrl+Shift, so every plain Ctrl letter reaches the target.
- File → Validate checks a file's MD5 and CRC-32 against an expected value.
"""


def menu_items(desktop):
    m = re.search(r"## Menus\n(.*?)\n## ", desktop, re.S)
    return "# Menu items\n" + (m.group(1) if m else "")


def main():
    OUT.mkdir(parents=True, exist_ok=True)
    desktop = (TOP / "docs" / "desktop.md").read_text()
    desktop_html = markdown(desktop).replace('src="images/', 'src="')
    for png in (TOP / "docs" / "images").glob("desktop-*.png"):
        (OUT / png.name).write_bytes(png.read_bytes())
    page("Topic1.htm", "Overview", desktop_html)
    page("Topic8.htm", "Scripts", markdown((TOP / "docs" / "scripting.md").read_text()))
    page("Topic15.htm", "Servers", markdown(SERVERS))
    page("Topic22.htm", "Menu Items", markdown(menu_items(desktop)))
    page("Topic2.htm", "ASCII table", ascii_table())
    page("WhatsNew.htm", "What's new", markdown(WHATSNEW))
    contents = "<h1>Oxel help</h1><ul>" + "".join(f'<li><a href="{f}">{t}</a></li>' for f, t in NAV[1:]) + "</ul>"
    docs = sorted(p.name for p in (TOP / "docs").glob("*.md"))
    contents += "<p>More in the documentation folder: " + ", ".join(docs) + ".</p>"
    page("Index.htm", "Contents", contents)
    return 0


if __name__ == "__main__":
    sys.exit(main())

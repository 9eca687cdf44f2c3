"""The CLI's plain output without a terminal: `show` texts and `list` tables."""
import time


# --- plain text output --------------------------------------------------------

def regtime(seconds):
    return time.strftime("%m/%d %H:%M:%S", time.localtime(seconds)) if seconds else "-"


def cut(text, width, left=True):
    text = str(text)[:width]
    return text.ljust(width) if left else text.rjust(width)


def table(header, rows):
    """The CLI's table without a terminal: header as is, data lines rstripped."""
    return header + "\n" + "".join(row.rstrip() + "\n" for row in rows)


def show_text(title, fields, sections):
    lines = [title]
    for name, value in fields:
        lines.append("%-15s: %s" % (name, value))
    for heading, body in sections:
        lines += ["", heading] + body
    return "\n".join(lines) + "\n"


def attrs_text(attrs):
    lines = []
    for key, value in sorted(attrs, key=lambda pair: pair[0]):
        if isinstance(value, dict):
            inner = ",\n  ".join('%s="%s"' % (k, value[k]) for k in sorted(value))
            lines.append("%s=[\n  %s ]" % (key, inner))
        else:
            lines.append('%s="%s"' % (key, value))
    return lines

"""Reads a template file as the platform accepts it: XML (root TEMPLATE) or
the attribute syntax `NAME = "value"` and `DISK = [ IMAGE_ID = "3", ... ]`.
The result is a list of (name, value) pairs; a vector's value is a dict."""
import re
import xml.etree.ElementTree as ElementTree


def _text(element):
    return "".join(element.itertext()).strip()


def parse_xml(text):
    root = ElementTree.fromstring(text.encode("utf-8"))
    if root.tag == "VMTEMPLATE":
        inner = root.find("TEMPLATE")
        if inner is None:
            raise ValueError("VMTEMPLATE without TEMPLATE")
        root = inner
    if root.tag != "TEMPLATE":
        raise ValueError("root element is %s, not TEMPLATE" % root.tag)
    attrs = []
    for child in root:
        if len(child):
            attrs.append((child.tag.upper(), {sub.tag.upper(): _text(sub) for sub in child}))
        else:
            attrs.append((child.tag.upper(), _text(child)))
    return attrs


_TOKEN = re.compile(r'\s*(?:(#[^\n]*)|("(?:[^"\\]|\\.)*")|([A-Za-z0-9_./:@-]+)|(=|\[|\]|,))', re.S)


def parse_attributes(text):
    tokens = []
    pos = 0
    while pos < len(text):
        if text[pos:].strip() == "":
            break
        match = _TOKEN.match(text, pos)
        if not match:
            raise ValueError("syntax error near: " + text[pos:pos + 20])
        pos = match.end()
        comment, quoted, word, mark = match.groups()
        if comment:
            continue
        if quoted is not None:
            tokens.append(("v", re.sub(r'\\(.)', r'\1', quoted[1:-1])))
        elif word is not None:
            tokens.append(("v", word))
        else:
            tokens.append((mark, mark))
    attrs = []
    i = 0

    def expect(kind):
        nonlocal i
        if i >= len(tokens) or tokens[i][0] != kind:
            raise ValueError("syntax error: expected " + kind)
        i += 1
        return tokens[i - 1][1]

    while i < len(tokens):
        name = expect("v").upper()
        expect("=")
        if i < len(tokens) and tokens[i][0] == "[":
            i += 1
            vector = {}
            while tokens[i][0] != "]":
                key = expect("v").upper()
                expect("=")
                vector[key] = expect("v")
                if tokens[i][0] == ",":
                    i += 1
            i += 1
            attrs.append((name, vector))
        else:
            attrs.append((name, expect("v")))
    return attrs


def parse(text):
    if text.lstrip().startswith("<"):
        return parse_xml(text)
    return parse_attributes(text)

"""A tiny XML tree and the printer the platform's CLI uses for `-x` output.

Elements print as the platform prints them: no XML declaration, two blanks of
indentation per level, `<NAME/>` for an empty element, and template values
wrapped in CDATA.
"""
from xml.sax.saxutils import escape


class Element:
    def __init__(self, name, text=None, cdata=False, children=None):
        self.name = name
        self.text = None if text is None else str(text)
        self.cdata = cdata
        self.children = list(children or [])

    def add(self, name, text=None, cdata=False):
        """Appends a child element and returns it."""
        child = Element(name, text, cdata)
        self.children.append(child)
        return child

    def append(self, element):
        self.children.append(element)
        return element


def _cdata(text):
    # "]]>" cannot stand inside one CDATA section: split it over two.
    return "<![CDATA[" + text.replace("]]>", "]]]]><![CDATA[>") + "]]>"


def _lines(element, depth, out):
    pad = "  " * depth
    if element.children:
        out.append(pad + "<" + element.name + ">")
        for child in element.children:
            _lines(child, depth + 1, out)
        out.append(pad + "</" + element.name + ">")
    elif element.text is None or (element.text == "" and not element.cdata):
        out.append(pad + "<" + element.name + "/>")
    else:
        body = _cdata(element.text) if element.cdata else escape(element.text)
        out.append(pad + "<" + element.name + ">" + body + "</" + element.name + ">")


def render(element):
    """The document as the CLI prints it, ending in a newline."""
    out = []
    _lines(element, 0, out)
    return "\n".join(out) + "\n"


def template_element(name, attributes):
    """A TEMPLATE-like element from an attribute list.

    `attributes` is a list of (name, value) pairs; a value is a text or a
    dict (a vector attribute such as DISK). Like the platform, children come
    out sorted by name (pairs of one name keep their order), vector values
    sorted by key, every value in CDATA.
    """
    root = Element(name)
    for key, value in sorted(attributes, key=lambda pair: pair[0]):
        if isinstance(value, dict):
            vector = root.add(key)
            for sub_key in sorted(value):
                vector.add(sub_key, value[sub_key], cdata=True)
        else:
            root.add(key, value, cdata=True)
    return root

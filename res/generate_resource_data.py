#!/usr/bin/env python3
"""Reads the resource script that the Windows build compiles and turns it into C++
data for the Linux program and the tests, so that both builds take every text,
number and the firmware image from the same files.

    generate_resource_data.py SCRIPT.rc OUTPUT_DIR
        writes resource_strings.cpp, resource_dialogs.cpp, resource_version.cpp and
        resource_image.cpp
    generate_resource_data.py --list SCRIPT.rc
        prints the files the script is made of (SOURCE path) and the files it
        embeds (EMBED type id path), for the build to depend on

It understands exactly the subset of the resource language that the script uses
and stops with an error on anything else, rather than guessing what the resource
compiler would make of it.
"""
import pathlib
import re
import sys

# The few Windows constants the script uses, with the values of the Windows
# headers. Anything else is an error until it is added here.
WINDOWS_CONSTANTS = {
    "WS_POPUP": 0x80000000,
    "WS_CHILD": 0x40000000,
    "WS_VISIBLE": 0x10000000,
    "WS_DISABLED": 0x08000000,
    "WS_CAPTION": 0x00C00000,
    "WS_BORDER": 0x00800000,
    "WS_VSCROLL": 0x00200000,
    "WS_HSCROLL": 0x00100000,
    "WS_SYSMENU": 0x00080000,
    "WS_GROUP": 0x00020000,
    "WS_TABSTOP": 0x00010000,
    "DS_SETFONT": 0x0040,
    "DS_MODALFRAME": 0x0080,
    "DS_FIXEDSYS": 0x0008,
    "DS_CENTER": 0x0800,
    "BS_PUSHBUTTON": 0x0000,
    "BS_DEFPUSHBUTTON": 0x0001,
    "BS_GROUPBOX": 0x0007,
    "SS_LEFT": 0x0000,
    "ES_LEFT": 0x0000,
    "ES_MULTILINE": 0x0004,
    "ES_AUTOVSCROLL": 0x0040,
    "ES_READONLY": 0x0800,
    "WS_EX_RIGHT": 0x00001000,
    "LANG_NEUTRAL": 0x00,
    "LANG_ENGLISH": 0x09,
    "LANG_GERMAN": 0x07,
    "SUBLANG_NEUTRAL": 0x00,
    "SUBLANG_DEFAULT": 0x01,
    "SUBLANG_ENGLISH_US": 0x01,
    "SUBLANG_GERMAN": 0x01,
    "RT_MANIFEST": 24,
    "CREATEPROCESS_MANIFEST_RESOURCE_ID": 1,
    "VS_VERSION_INFO": 1,
    "VS_FFI_FILEFLAGSMASK": 0x3F,
    "VOS_NT_WINDOWS32": 0x40004,
    "VFT_APP": 0x1,
    "VFT2_UNKNOWN": 0x0,
}

# The fixed part of a version resource, in the order VS_FIXEDFILEINFO holds it.
VERSION_FIXED_FIELDS = ("FILEFLAGSMASK", "FILEFLAGS", "FILEOS", "FILETYPE", "FILESUBTYPE")

# What the resource compiler adds on its own.
CONTROL_DEFAULT_STYLE = 0x40000000 | 0x10000000  # WS_CHILD | WS_VISIBLE
CAPTION_STYLE = 0x00C00000  # WS_CAPTION, implied by CAPTION
SETFONT_STYLE = 0x0040  # DS_SETFONT, implied by FONT

CONTROL_CLASSES = {0x0080: "button", 0x0081: "edit", 0x0082: "static"}
UTF8_CODE_PAGE = 65001
FIRMWARE_IMAGE_ID = 142


class ScriptError(Exception):
    pass


class Token:
    def __init__(self, kind, value, where):
        self.kind = kind  # "num", "str", "id", "punct"
        self.value = value
        self.where = where

    def __repr__(self):
        return f"{self.value!r} at {self.where}"


def strip_comments(text, where):
    """Blanks out // and /* */ comments outside string literals, keeping line
    breaks so that line numbers stay right."""
    out = []
    i, n = 0, len(text)
    in_string = False
    while i < n:
        c = text[i]
        if in_string:
            out.append(c)
            if c == "\\" and i + 1 < n:
                out.append(text[i + 1])
                i += 2
                continue
            if c == '"':
                in_string = False
            elif c == "\n":
                raise ScriptError(f"{where}: string runs past the end of the line")
            i += 1
        elif c == '"':
            in_string = True
            out.append(c)
            i += 1
        elif text.startswith("//", i):
            while i < n and text[i] != "\n":
                i += 1
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            if end < 0:
                raise ScriptError(f"{where}: unterminated comment")
            out.append(" " + "\n" * text.count("\n", i, end))
            i = end + 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


TOKEN_PATTERN = re.compile(r"""
    (?P<space>[ \t\r]+)
  | (?P<str>L?"(?:[^"\\\n]|\\.|"")*")
  | (?P<num>0[xX][0-9a-fA-F]+[lLuU]*|[0-9]+[lLuU]*)
  | (?P<id>[A-Za-z_][A-Za-z_0-9]*)
  | (?P<punct>[,|()+\-{}])
""", re.VERBOSE)

# The escapes the resource compiler reads as C does; a quote is written "" there.
STRING_ESCAPES = {"r": "\r", "n": "\n", "t": "\t", "\\": "\\"}


def decode_string(literal, where):
    """The text of a string literal as the resource compiler stores it."""
    body = literal[2:-1] if literal.startswith("L") else literal[1:-1]
    out = []
    i = 0
    while i < len(body):
        c = body[i]
        if c == "\\":
            escape = body[i + 1]
            if escape not in STRING_ESCAPES:
                raise ScriptError(f"{where}: escape \\{escape} is not supported")
            out.append(STRING_ESCAPES[escape])
            i += 2
        elif c == '"':  # "" stands for one quote
            out.append('"')
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def parse_number(text, where):
    digits = text.rstrip("lLuU")
    if len(digits) > 1 and digits[0] == "0" and digits[1] not in "xX":
        raise ScriptError(f"{where}: octal-looking number {text}")
    return int(digits, 0)


class Preprocessor:
    """Just enough of the C preprocessor that the resource compiler runs first:
    local includes, object-like macros, include guards, the code-page pragma."""

    def __init__(self):
        self.macros = {}
        self.sources = []
        self.code_page = None
        self.tokens = []

    def run(self, path):
        path = pathlib.Path(path).resolve()
        self.sources.append(path)
        where_file = str(path)
        text = strip_comments(path.read_text(encoding="utf-8"), where_file)
        conditions = []  # one bool per open #if..., whether its lines count
        lines = text.split("\n")
        number = 0
        while number < len(lines):
            line = lines[number]
            number += 1
            where = f"{where_file}:{number}"
            while line.endswith("\\"):
                line = line[:-1] + lines[number]
                number += 1
            stripped = line.strip()
            if stripped.startswith("#"):
                self.directive(stripped[1:].strip(), conditions, path, where)
                continue
            if all(conditions) and stripped:
                self.tokenize(line, where)
        if conditions:
            raise ScriptError(f"{where_file}: #if without #endif")

    def directive(self, text, conditions, path, where):
        name, rest = (re.split(r"\s+", text, maxsplit=1) + [""])[:2]
        rest = rest.strip()
        if name in ("ifdef", "ifndef"):
            conditions.append((rest in self.macros) == (name == "ifdef"))
        elif name == "endif":
            if not conditions:
                raise ScriptError(f"{where}: #endif without #if")
            conditions.pop()
        elif name == "else":
            if not conditions:
                raise ScriptError(f"{where}: #else without #if")
            conditions[-1] = not conditions[-1]
        elif not all(conditions):
            return
        elif name == "include":
            if rest.startswith("<"):
                return  # the Windows headers: their few constants are built in
            if not (rest.startswith('"') and rest.endswith('"')):
                raise ScriptError(f"{where}: cannot include {rest}")
            self.run(path.parent / rest[1:-1])
        elif name == "define":
            match = re.match(r"([A-Za-z_][A-Za-z_0-9]*)(\(?)(.*)$", rest)
            if not match or match.group(2):
                raise ScriptError(f"{where}: only object-like macros are supported")
            self.macros[match.group(1)] = self.tokenize_text(match.group(3), where)
        elif name == "undef":
            self.macros.pop(rest, None)
        elif name == "pragma":
            match = re.fullmatch(r"code_page\s*\(\s*(\d+)\s*\)", rest)
            if not match:
                raise ScriptError(f"{where}: unknown pragma {rest}")
            self.code_page = int(match.group(1))
        else:
            raise ScriptError(f"{where}: directive #{name} is not supported")

    def tokenize_text(self, text, where):
        tokens = []
        position = 0
        while position < len(text):
            match = TOKEN_PATTERN.match(text, position)
            if not match:
                raise ScriptError(f"{where}: unexpected {text[position:position + 20]!r}")
            position = match.end()
            kind = match.lastgroup
            value = match.group(kind)
            if kind == "space":
                continue
            if kind == "str":
                if any(ord(c) > 127 for c in value) and self.code_page != UTF8_CODE_PAGE:
                    raise ScriptError(f"{where}: non-ASCII text without #pragma code_page(65001)")
                value = decode_string(value, where)
            elif kind == "num":
                value = parse_number(value, where)
            tokens.append(Token(kind, value, where))
        return tokens

    def tokenize(self, line, where):
        self.tokens.extend(self.expand(self.tokenize_text(line, where), set()))

    def expand(self, tokens, active):
        out = []
        for token in tokens:
            if token.kind == "id" and token.value in self.macros and token.value not in active:
                out.extend(self.expand(self.macros[token.value], active | {token.value}))
            else:
                out.append(token)
        return out


class Parser:
    def __init__(self, tokens):
        self.tokens = tokens
        self.position = 0
        self.language = 0
        self.strings = {}  # (language, id) -> text
        self.dialogs = {}  # (id, language) -> dict
        self.embedded = []  # (type, id, language, path)
        self.version = None  # the one version resource, a dict

    def peek(self, offset=0):
        index = self.position + offset
        return self.tokens[index] if index < len(self.tokens) else None

    def take(self):
        token = self.peek()
        if token is None:
            raise ScriptError("unexpected end of script")
        self.position += 1
        return token

    def fail(self, what, token=None):
        token = token or self.peek()
        raise ScriptError(f"{token.where if token else 'end of script'}: expected {what}, "
                          f"found {token.value if token else 'nothing'!r}")

    def at(self, kind, value=None, offset=0):
        token = self.peek(offset)
        return token is not None and token.kind == kind and (value is None or token.value == value)

    def expect_punct(self, value):
        if not self.at("punct", value):
            self.fail(f"'{value}'")
        self.take()

    def optional_comma(self):
        if self.at("punct", ","):
            self.take()

    def block_begin(self):
        if self.at("id", "BEGIN") or self.at("punct", "{"):
            self.take()
        else:
            self.fail("BEGIN")

    def block_end(self):
        if self.at("id", "END") or self.at("punct", "}"):
            self.take()
            return True
        return False

    def string(self):
        """One or more adjacent literals, joined as the resource compiler joins them."""
        if not self.at("str"):
            self.fail("a string")
        parts = []
        while self.at("str"):
            parts.append(self.take().value)
        return "".join(parts)

    # expression := term (('|' | '+' | '-') term)*
    def expression(self):
        value = self.term()
        while self.at("punct", "|") or self.at("punct", "+") or self.at("punct", "-"):
            operator = self.take().value
            right = self.term()
            value = value | right if operator == "|" else value + right if operator == "+" \
                else value - right
        return value

    def term(self):
        token = self.take()
        if token.kind == "num":
            return token.value
        if token.kind == "punct" and token.value == "-":
            return -self.term()
        if token.kind == "punct" and token.value == "(":
            value = self.expression()
            self.expect_punct(")")
            return value
        if token.kind == "id" and token.value in WINDOWS_CONSTANTS:
            return WINDOWS_CONSTANTS[token.value]
        if token.kind == "id" and token.value == "NOT":
            raise ScriptError(f"{token.where}: NOT is not supported")
        raise ScriptError(f"{token.where}: unknown value {token.value!r}")

    def parse(self):
        while self.peek() is not None:
            if self.at("id", "LANGUAGE"):
                self.take()
                primary = self.expression()
                self.expect_punct(",")
                sub = self.expression()
                self.language = (sub << 10) | primary
            elif self.at("id", "STRINGTABLE"):
                self.take()
                self.string_table()
            else:
                self.resource()
        return self

    def string_table(self):
        self.block_begin()
        while not self.block_end():
            token = self.peek()
            string_id = self.expression()
            self.optional_comma()
            text = self.string()
            key = (self.language, string_id)
            if not 0 <= string_id <= 0xFFFF:
                raise ScriptError(f"{token.where}: string ID {string_id} out of range")
            if key in self.strings:
                raise ScriptError(f"{token.where}: string {string_id} defined twice")
            self.strings[key] = text

    def resource(self):
        start = self.peek()
        resource_id = self.expression()
        if self.at("id", "DIALOGEX"):
            self.take()
            self.dialog(resource_id, start)
        elif self.at("id", "VERSIONINFO"):
            self.take()
            self.version_info(resource_id, start)
        elif self.at("id", "BITMAP") or self.at("id", "ICON") or self.at("id", "RCDATA"):
            self.embed(self.take().value, resource_id)
        else:
            self.embed(str(self.expression()), resource_id)  # a numeric type

    def embed(self, kind, resource_id):
        name = self.take()
        if name.kind != "str":
            self.fail("a file name", name)
        # Relative to the file that names it, as the resource compiler resolves it.
        path = pathlib.Path(name.where.rsplit(":", 1)[0]).parent / name.value
        self.embedded.append((kind, resource_id, self.language, path))

    def dialog(self, dialog_id, start):
        rect = [self.expression()]
        for _ in range(3):
            self.expect_punct(",")
            rect.append(self.expression())
        if self.at("punct", ","):
            self.take()
            if self.expression():
                raise ScriptError(f"{start.where}: dialog help IDs are not carried")
        dialog = {"rect": rect, "style": None, "ex_style": 0, "title": "",
                  "font": None, "controls": []}
        implied = 0
        while not (self.at("id", "BEGIN") or self.at("punct", "{")):
            option = self.take()
            if option.value == "STYLE":
                dialog["style"] = self.expression()
            elif option.value == "EXSTYLE":
                dialog["ex_style"] = self.expression()
            elif option.value == "CAPTION":
                dialog["title"] = self.string()
                implied |= CAPTION_STYLE
            elif option.value == "FONT":
                font = [self.expression()]
                self.expect_punct(",")
                font.append(self.string())
                for _ in range(3):
                    self.expect_punct(",")
                    font.append(self.expression())
                dialog["font"] = font
                implied |= SETFONT_STYLE
            else:
                self.fail("STYLE, EXSTYLE, CAPTION, FONT or BEGIN", option)
        if dialog["style"] is None:
            raise ScriptError(f"{start.where}: dialog {dialog_id} without STYLE")
        if dialog["font"] is None:
            raise ScriptError(f"{start.where}: dialog {dialog_id} without FONT")
        dialog["style"] |= implied
        self.block_begin()
        while not self.block_end():
            dialog["controls"].append(self.control())
        key = (dialog_id, self.language)
        if key in self.dialogs:
            raise ScriptError(f"{start.where}: dialog {dialog_id} defined twice")
        self.dialogs[key] = dialog

    def version_info(self, resource_id, start):
        if self.version is not None:
            raise ScriptError(f"{start.where}: a second version resource")
        version = {"id": resource_id, "language": self.language, "texts": [],
                   "translations": []}
        while not (self.at("id", "BEGIN") or self.at("punct", "{")):
            option = self.take()
            if option.value in ("FILEVERSION", "PRODUCTVERSION"):
                parts = [self.expression()]
                for _ in range(3):
                    self.expect_punct(",")
                    parts.append(self.expression())
                if any(not 0 <= part <= 0xFFFF for part in parts):
                    raise ScriptError(f"{option.where}: version parts are 16-bit numbers")
                version[option.value] = parts
            elif option.value in VERSION_FIXED_FIELDS:
                version[option.value] = self.expression()
            else:
                self.fail("a version statement or BEGIN", option)
        missing = [name for name in ("FILEVERSION", "PRODUCTVERSION") + VERSION_FIXED_FIELDS
                   if name not in version]
        if missing:
            raise ScriptError(f"{start.where}: version resource without {', '.join(missing)}")
        self.block_begin()
        while not self.block_end():
            keyword = self.take()
            if keyword.value != "BLOCK":
                self.fail("BLOCK", keyword)
            name = self.string()
            if name == "StringFileInfo":
                self.version_string_blocks(version)
            elif name == "VarFileInfo":
                self.version_translations(version)
            else:
                raise ScriptError(f"{keyword.where}: unknown version block {name!r}")
        self.version = version

    def version_string_blocks(self, version):
        self.block_begin()
        while not self.block_end():
            keyword = self.take()
            if keyword.value != "BLOCK":
                self.fail("BLOCK", keyword)
            key = self.string()
            if not re.fullmatch(r"[0-9A-Fa-f]{8}", key):
                raise ScriptError(f"{keyword.where}: string block {key!r} is not "
                                  "four hex digits of language and four of code page")
            language, code_page = int(key[:4], 16), int(key[4:], 16)
            self.block_begin()
            names = set()
            while not self.block_end():
                value_keyword = self.take()
                if value_keyword.value != "VALUE":
                    self.fail("VALUE", value_keyword)
                name = self.string()
                self.expect_punct(",")
                text = self.string()
                if name in names:
                    raise ScriptError(f"{value_keyword.where}: {name} twice in block {key}")
                names.add(name)
                version["texts"].append((language, code_page, name, text))

    def version_translations(self, version):
        self.block_begin()
        while not self.block_end():
            keyword = self.take()
            if keyword.value != "VALUE" or self.string() != "Translation":
                self.fail('VALUE "Translation"', keyword)
            while self.at("punct", ","):
                self.take()
                language = self.expression()
                self.expect_punct(",")
                version["translations"].append((language, self.expression()))

    def control(self):
        keyword = self.take()
        if keyword.value != "CONTROL":
            self.fail("CONTROL (the generic form, which gives every style explicitly)", keyword)
        text = self.string()
        self.expect_punct(",")
        control_id = self.expression()
        self.expect_punct(",")
        class_token = self.peek()
        class_ordinal = self.expression()
        if class_ordinal not in CONTROL_CLASSES:
            raise ScriptError(f"{class_token.where}: control class must be a predefined ordinal")
        self.expect_punct(",")
        style = CONTROL_DEFAULT_STYLE | self.expression()
        rect = []
        for _ in range(4):
            self.expect_punct(",")
            rect.append(self.expression())
        ex_style = help_id = 0
        if self.at("punct", ","):
            self.take()
            ex_style = self.expression()
            if self.at("punct", ","):
                self.take()
                help_id = self.expression()
        if help_id:
            raise ScriptError(f"{keyword.where}: control help IDs are not carried")
        return {"id": control_id, "class": CONTROL_CLASSES[class_ordinal], "text": text,
                "rect": rect, "style": style & 0xFFFFFFFF, "ex_style": ex_style}


def cpp_wide(text):
    """A u"" literal holding exactly the given UTF-16 text."""
    out = ['u"']
    for c in text:
        code = ord(c)
        if c == "\\" or c == '"':
            out.append("\\" + c)
        elif c == "\r":
            out.append("\\r")
        elif c == "\n":
            out.append("\\n")
        elif c == "?":
            out.append("\\?")  # never part of a trigraph
        elif 0x20 <= code < 0x7F:
            out.append(c)
        elif code < 0x80:
            out.append(f"\\{code:03o}")
        elif code < 0x10000:
            out.append(f"\\u{code:04x}")
        else:
            out.append(f"\\U{code:08x}")
    out.append('"')
    return "".join(out)


def utf16_length(text):
    return len(text.encode("utf-16-le")) // 2


HEADER = "// Generated from the resource script by generate_resource_data.py. Do not edit.\n"


def strings_source(parser, macros):
    languages = sorted({language for language, _ in parser.strings})
    ids_by_language = {language: sorted(i for lang, i in parser.strings if lang == language)
                       for language in languages}
    all_ids = sorted({i for _, i in parser.strings})
    for language in languages:
        missing = sorted(set(all_ids) - set(ids_by_language[language]))
        if missing:
            raise ScriptError(f"strings {missing} are missing in language {language}")
    wanted = {name: tokens for name, tokens in macros.items() if name.startswith("IDS_")}
    for name, tokens in sorted(wanted.items()):
        if len(tokens) != 1 or tokens[0].kind != "num" or tokens[0].value not in all_ids:
            raise ScriptError(f"{name} has no entry in the string table")

    lines = [HEADER, '#include "res/resource_tables.h"', ""]
    lines.append("const ResStringEntry g_resStrings[] = {")
    for (language, string_id), text in sorted(parser.strings.items()):
        lines.append(f"    {{{language}, {string_id}, {utf16_length(text)}, {cpp_wide(text)}}},")
    lines.append("};")
    lines.append(f"const int g_resStringCount = {len(parser.strings)};")
    lines.append("")
    lines.append("const uint16_t g_resStringIds[] = {" + ", ".join(map(str, all_ids)) + "};")
    lines.append(f"const int g_resStringIdCount = {len(all_ids)};")
    return "\n".join(lines) + "\n"


def dialogs_source(parser):
    lines = [HEADER, '#include "res/resource_tables.h"', ""]
    entries = []
    for index, ((dialog_id, language), dialog) in enumerate(sorted(parser.dialogs.items())):
        name = f"s_controls{index}"
        lines.append(f"static const ResDialogControl {name}[] = {{")
        for control in dialog["controls"]:
            x, y, cx, cy = control["rect"]
            lines.append(f'    {{{control["id"]}, "{control["class"]}", {cpp_wide(control["text"])}, '
                         f'{x}, {y}, {cx}, {cy}, 0x{control["style"]:08X}u, '
                         f'0x{control["ex_style"]:08X}u}},')
        lines.append("};")
        x, y, cx, cy = dialog["rect"]
        point_size, face, weight, italic, charset = dialog["font"]
        entries.append(
            f'    {{{dialog_id}, {language}, {{0x{dialog["style"]:08X}u, '
            f'0x{dialog["ex_style"]:08X}u, {x}, {y}, {cx}, {cy}, '
            f'{cpp_wide(dialog["title"])}, {cpp_wide(face)}, {point_size}, {weight}, {italic}, '
            f'{charset}, {len(dialog["controls"])}, {name}}}}},')
    lines.append("")
    lines.append("const ResDialogEntry g_resDialogs[] = {")
    lines.extend(entries)
    lines.append("};")
    lines.append(f"const int g_resDialogCount = {len(entries)};")
    return "\n".join(lines) + "\n"


def version_source(parser):
    version = parser.version
    if version is None:
        raise ScriptError("the script has no version resource")
    lines = [HEADER, '#include "res/resource_tables.h"', "",
             "static const ResVersionText s_texts[] = {"]
    for language, code_page, name, text in version["texts"]:
        lines.append(f'    {{0x{language:04X}, {code_page}, "{name}", {cpp_wide(text)}}},')
    lines.append("};")
    pairs = ", ".join(f"0x{language:04X}, {code_page}"
                      for language, code_page in version["translations"])
    lines.append(f"static const uint16_t s_translations[] = {{{pairs}}};")
    numbers = lambda parts: "{" + ", ".join(map(str, parts)) + "}"
    fixed = ", ".join(f"0x{version[name]:X}u" for name in VERSION_FIXED_FIELDS)
    lines.append("")
    lines.append(f"const ResVersionInfo g_resVersion = {{{version['id']}, {version['language']}, "
                 f"{numbers(version['FILEVERSION'])}, {numbers(version['PRODUCTVERSION'])}, "
                 f"{fixed}, {len(version['texts'])}, s_texts, "
                 f"{len(version['translations'])}, s_translations}};")
    return "\n".join(lines) + "\n"


def image_source(parser):
    images = [e for e in parser.embedded if e[0] == "RCDATA" and e[1] == FIRMWARE_IMAGE_ID]
    if len(images) != 1:
        raise ScriptError(f"expected one raw-data resource {FIRMWARE_IMAGE_ID}, found {len(images)}")
    path = images[0][3]
    data = path.read_bytes()
    lines = [HEADER, '#include "res/resource_tables.h"', "",
             f"// {path.name}, {len(data)} bytes",
             "alignas(4) const uint8_t g_resFirmwareImage[] = {"]
    for offset in range(0, len(data), 16):
        lines.append("    " + ", ".join(f"0x{b:02x}" for b in data[offset:offset + 16]) + ",")
    lines.append("};")
    lines.append(f"const uint32_t g_resFirmwareImageSize = {len(data)}u;")
    return "\n".join(lines) + "\n"


def load(script):
    preprocessor = Preprocessor()
    preprocessor.run(script)
    parser = Parser(preprocessor.tokens).parse()
    return preprocessor, parser


def main(argv):
    if len(argv) == 3 and argv[1] == "--list":
        preprocessor, parser = load(argv[2])
        for source in preprocessor.sources:
            print(f"SOURCE {source}")
        for kind, resource_id, _, path in parser.embedded:
            print(f"EMBED {kind} {resource_id} {path.resolve()}")
        return 0
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    preprocessor, parser = load(argv[1])
    output = pathlib.Path(argv[2])
    output.mkdir(parents=True, exist_ok=True)
    image = image_source(parser)
    files = {
        "resource_strings.cpp": strings_source(parser, preprocessor.macros),
        "resource_dialogs.cpp": dialogs_source(parser),
        "resource_version.cpp": version_source(parser),
        "resource_image.cpp": image,
    }
    for name, text in files.items():
        (output / name).write_text(text, encoding="utf-8")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv))
    except (ScriptError, OSError) as error:
        print(f"generate_resource_data.py: {error}", file=sys.stderr)
        sys.exit(1)

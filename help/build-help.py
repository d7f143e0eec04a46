#!/usr/bin/python3
"""Builds help.chm from the Markdown pages of help/pages and the table of contents help/contents.txt.

  build-help.py --root REPOSITORY --out FOLDER [--chmcmd PROGRAM] [--check-only]

Writes FOLDER/html (the pages as HTML, the table of contents, the index and the project file)
and compiles it into FOLDER/help.chm with Free Pascal's chmcmd. Exits non-zero, naming the
page, when the help is not sound:
  - a page links to a page or an anchor that does not exist, or the table of contents or the
    index names one;
  - a page is missing from the table of contents, or the table names a page that is missing;
  - a caption written {{like this}} is not a text of the program (a string of its sources);
  - an included section of another document is not there;
  - chmcmd fails or warns.

A page is Markdown. Lines "Index: TERM" before its first blank line are its index entries
("Index: TERM #anchor" points into the page). A line
  <!-- include PATH "Heading" -->
is replaced by that section of the Markdown document PATH (relative to the repository), its
headings moved up one level: so the import formats are written once, in services/README.md.
"""
import argparse
import html
import os
import re
import shutil
import subprocess
import sys
from html.parser import HTMLParser
from pathlib import Path

import markdown
import xml.etree.ElementTree as etree
from markdown.extensions import Extension
from markdown.inlinepatterns import InlineProcessor
from markdown.util import AtomicString

TITLE = "Quillet Help"
# Where the texts that the help quotes as captions and messages live.
PROGRAM_SOURCES = ["app", "cli", "research", "services/program", "services/get", "datawindow", "packaging/quillet.nsi"]
SOURCE_SUFFIXES = {".cpp", ".h", ".rc", ".nsi"}
INCLUDE = re.compile(r'^<!-- include (\S+) "([^"]+)" -->\s*$')
INDEX = re.compile(r"^Index:\s*(.+?)(?:\s+#([\w-]+))?\s*$")


class HelpError(Exception):
    pass


class Captions(InlineProcessor):
    """{{text}}: a caption or message of the program, shown as such and checked against it."""

    def __init__(self, found):
        super().__init__(r"\{\{(.+?)\}\}")
        self.found = found

    def handleMatch(self, match, data):
        element = etree.Element("span", {"class": "ui"})
        element.text = AtomicString(match.group(1))
        self.found.append(match.group(1))
        return element, match.start(0), match.end(0)


class CaptionExtension(Extension):
    def __init__(self, found):
        super().__init__()
        self.found = found

    def extendMarkdown(self, md):
        md.inlinePatterns.register(Captions(self.found), "quillet_captions", 175)


def section(path, heading):
    """The body of the section `heading` (any level) of a Markdown file, headings one level up."""
    lines = path.read_text(encoding="utf-8").splitlines()
    for start, line in enumerate(lines):
        found = re.match(r"^(#+) (.*)$", line)
        if found and found.group(2).strip() == heading:
            level = len(found.group(1))
            break
    else:
        raise HelpError(f'{path}: no section "{heading}"')
    body = []
    fenced = False
    for line in lines[start + 1 :]:
        if line.startswith("```"):
            fenced = not fenced
        found = None if fenced else re.match(r"^(#+) ", line)
        if found and len(found.group(1)) <= level:
            break
        if found:
            line = line[1:]
        body.append(line)
    return "\n".join(body)


def read_page(path, root):
    """(index entries, Markdown text) of a page, its includes resolved."""
    entries, body = [], []
    for line in path.read_text(encoding="utf-8").splitlines():
        if not body and line.startswith("Index:"):
            match = INDEX.match(line)
            entries.append((match.group(1), match.group(2)))
            continue
        include = INCLUDE.match(line)
        if include:
            body.append(section(root / include.group(1), include.group(2)))
        else:
            body.append(line)
    return entries, "\n".join(body)


def read_contents(folder):
    """[(depth, page file name)] of contents.txt: one page a line, two blanks per level."""
    contents = []
    for number, line in enumerate((folder / "contents.txt").read_text(encoding="utf-8").splitlines(), 1):
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        indent = len(line) - len(line.lstrip(" "))
        depth = indent // 2
        if indent % 2 or depth > (contents[-1][0] + 1 if contents else 0):
            raise HelpError(f"contents.txt:{number}: indent by two blanks, one level at a time")
        contents.append((depth, line.strip()))
    return contents


class Anchors(HTMLParser):
    """The ids, links and title of an HTML page."""

    def __init__(self):
        super().__init__()
        self.ids, self.links, self.title, self._in_h1 = set(), [], "", False

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if "id" in attrs:
            self.ids.add(attrs["id"])
        if tag == "a" and "href" in attrs:
            self.links.append(attrs["href"])
        if tag in ("img", "link") and ("src" in attrs or "href" in attrs):
            self.links.append(attrs.get("src") or attrs.get("href"))
        self._in_h1 = tag == "h1" and not self.title

    def handle_endtag(self, tag):
        if tag == "h1":
            self._in_h1 = False

    def handle_data(self, data):
        if self._in_h1:
            self.title += data


def program_texts(root):
    """Every string literal of the program's sources as the user sees it: escapes read,
    accelerator ampersands dropped, blanks collapsed."""
    texts = set()
    for name in PROGRAM_SOURCES:
        base = root / name
        files = [base] if base.is_file() else sorted(p for p in base.rglob("*") if p.suffix in SOURCE_SUFFIXES)
        for path in files:
            source = path.read_text(encoding="utf-8", errors="replace")
            # Adjacent literals are one string.
            for run in re.finditer(r'"(?:[^"\\\n]|\\.)*"(?:\s*"(?:[^"\\\n]|\\.)*")*', source):
                text = "".join(re.findall(r'"((?:[^"\\\n]|\\.)*)"', run.group(0)))
                text = re.sub(r"\$\\[rnt]|\\[rnt]", " ", text).replace('\\"', '"').replace("\\\\", "\\")
                text = re.sub(r"&(&?)", r"\1", text)
                if path.suffix == ".nsi":
                    text = re.sub(r"\$\{?\w+\}?", "%s", text)  # the installer's variables
                    text = text[3:] if text.startswith("un.") else text  # an uninstaller section's name
                # A literal joined to other text by + is the start or the end of a message.
                if source[max(0, run.start() - 80) : run.start()].rstrip().endswith("+"):
                    text = "%s" + text
                if source[run.end() : run.end() + 80].lstrip().startswith("+"):
                    text += "%s"
                text = " ".join(text.split())
                texts.add(text)
                # A file dialog's filter shows its parts; a shortcut shows its name.
                texts.update(text.split("|"))
                if text.endswith(".lnk"):
                    texts.add(text[:-4].rpartition("\\")[2])
    return texts


CONVERSION = re.compile(r"%%|%[-+ #0]*(?:\d+|\*)?(?:\.\d+)?(?:ll|l|z|h)?[diufgxXsc]")


class ProgramTexts:
    """Whether a caption is a text of the program: equal to one of its strings, or to one of
    its printf formats with something in place of each conversion."""

    def __init__(self, texts):
        self.texts = texts
        # A format that is mostly conversions ("%s: %s") would match any caption.
        self.formats = [
            self._pattern(text) for text in texts if "%" in text and len(re.findall(r"\w", CONVERSION.sub("", text))) >= 5
        ]

    @staticmethod
    def _pattern(text):
        parts, at = [], 0
        for match in CONVERSION.finditer(text):
            parts += [re.escape(text[at : match.start()]), "%" if match.group(0) == "%%" else ".*"]
            at = match.end()
        return re.compile("".join(parts) + re.escape(text[at:]))

    def shown(self, caption):
        caption = " ".join(caption.split())
        return caption in self.texts or any(pattern.fullmatch(caption) for pattern in self.formats)


def build(root, help_folder, out, chmcmd, check_only):
    contents = read_contents(help_folder)
    pages = [name for _, name in contents]
    for name in pages:
        if pages.count(name) > 1:
            raise HelpError(f"contents.txt: {name} is listed twice")
        if not (help_folder / "pages" / name).is_file():
            raise HelpError(f"contents.txt: help/pages/{name} does not exist")
    for path in sorted((help_folder / "pages").glob("*.md")):
        if path.name not in pages:
            raise HelpError(f"help/pages/{path.name}: not in contents.txt (a page the reader could not reach)")

    html_folder = out / "html"
    if html_folder.exists():
        shutil.rmtree(html_folder)
    html_folder.mkdir(parents=True)
    shutil.copy(help_folder / "style.css", html_folder / "style.css")
    template = (help_folder / "page.html").read_text(encoding="utf-8")

    texts = ProgramTexts(program_texts(root))
    parsed, index, errors = {}, [], []
    for name in pages:
        entries, text = read_page(help_folder / "pages" / name, root)
        captions = []
        converter = markdown.Markdown(
            extensions=["tables", "fenced_code", "attr_list", "toc", CaptionExtension(captions)], output_format="html"
        )
        body = converter.convert(text)
        # Links are written to the Markdown files; the help holds their HTML.
        body = re.sub(r'href="([\w-]+)\.md(#[\w-]+)?"', r'href="\1.html\2"', body)
        target = name[:-3] + ".html"
        anchors = Anchors()
        anchors.feed(body)
        if not anchors.title:
            errors.append(f"help/pages/{name}: the page has no '# Title' heading")
        page = template.replace("{title}", html.escape(anchors.title)).replace("{body}", body)
        (html_folder / target).write_text(page, encoding="utf-8")
        parsed[target] = (name, anchors)
        for caption in captions:
            if not texts.shown(caption):
                errors.append(f'help/pages/{name}: {{{{{caption}}}}} is no caption or message of the program')
        for term, anchor in entries:
            index.append((term, target + (f"#{anchor}" if anchor else ""), name))

    def check(link, where, here):
        if re.match(r"^[a-z]+:", link):  # http:, mailto: ... left to the reader's browser
            return
        page, _, anchor = link.partition("#")
        page = page or here
        if page == "style.css":
            return
        if page not in parsed:
            errors.append(f"{where}: link to {link}: no such page")
        elif anchor and anchor not in parsed[page][1].ids:
            errors.append(f"{where}: link to {link}: {page} has no anchor #{anchor}")

    for target, (name, anchors) in parsed.items():
        for link in anchors.links:
            check(link, f"help/pages/{name}", target)
    for term, link, name in index:
        check(link, f"help/pages/{name}: Index: {term}", None)
    if errors:
        raise HelpError("\n".join(errors))

    write_sitemaps(html_folder, contents, parsed, index)
    (html_folder / "help.hhp").write_text(
        PROJECT.format(title=TITLE, first=pages[0][:-3] + ".html", files="\n".join(["style.css", *parsed])),
        encoding="cp1252",
    )
    if check_only:
        return
    chm = out / "help.chm"
    if chm.exists():
        chm.unlink()
    run = subprocess.run([chmcmd, "help.hhp"], cwd=html_folder, capture_output=True, text=True)
    said = (run.stdout + run.stderr).strip()
    if run.returncode != 0 or re.search(r"warning|error", said, re.I) or not (html_folder / "help.chm").is_file():
        raise HelpError(f"chmcmd failed (exit code {run.returncode}):\n{said}")
    shutil.move(html_folder / "help.chm", chm)


PROJECT = """[OPTIONS]
Compatibility=1.1 or later
Compiled file=help.chm
Contents file=toc.hhc
Index file=index.hhk
Default topic={first}
Default Window=main
Display compile progress=No
Full-text search=Yes
Language=0x409 English (United States)
Title={title}

[WINDOWS]
main="{title}","toc.hhc","index.hhk","{first}","{first}",,,,,0x63520,220,0x10384e,[40,40,840,640],,,,,,,0

[FILES]
{files}
"""


def sitemap_entry(name, local):
    # Sitemaps are read in the code page of the project's language.
    name = html.escape(name).encode("cp1252", "xmlcharrefreplace").decode("cp1252")
    return (
        f'<LI><OBJECT type="text/sitemap"><param name="Name" value="{name}">'
        f'<param name="Local" value="{local}"></OBJECT>\n'
    )


def write_sitemaps(folder, contents, parsed, index):
    head = '<!DOCTYPE HTML PUBLIC "-//IETF//DTD HTML//EN">\n<HTML><HEAD></HEAD><BODY>\n'
    toc, depth = [head, "<UL>\n"], 0
    for level, name in contents:
        target = name[:-3] + ".html"
        toc.append("</UL>\n" * (depth - level) + "<UL>\n" * (level - depth))
        toc.append(sitemap_entry(parsed[target][1].title, target))
        depth = level
    toc.append("</UL>\n" * (depth + 1) + "</BODY></HTML>\n")
    (folder / "toc.hhc").write_text("".join(toc), encoding="cp1252")
    entries = sorted(index, key=lambda entry: entry[0].lower())
    lines = [head, "<UL>\n", *(sitemap_entry(term, link) for term, link, _ in entries), "</UL>\n</BODY></HTML>\n"]
    (folder / "index.hhk").write_text("".join(lines), encoding="cp1252")


def main():
    parser = argparse.ArgumentParser(description="Builds help.chm from help/.")
    parser.add_argument("--root", type=Path, required=True, help="the repository")
    parser.add_argument("--help-folder", type=Path, help="the help sources (default ROOT/help)")
    parser.add_argument("--out", type=Path, required=True)
    parser.add_argument("--chmcmd", default="chmcmd")
    parser.add_argument("--check-only", action="store_true", help="check and write the HTML, no help.chm")
    args = parser.parse_args()
    try:
        build(args.root, args.help_folder or args.root / "help", args.out, args.chmcmd, args.check_only)
    except (HelpError, OSError) as error:
        print(f"build-help: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

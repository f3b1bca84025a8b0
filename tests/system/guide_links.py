#!/usr/bin/env python3
"""The README and the guides as a reader meets them: every relative link and
picture in README.md and docs/ leads to a file that is there, and a link to
a heading (#anchor) to a heading that has that anchor, as the web and the
panel's help window make them. The guides link only among themselves, so
that they work as installed; with a build folder the help is installed into
a private prefix and checked there too. The README stays short (under 150
lines, the two commands within its first 40), and each translated user
guide keeps the English one's sections and pictures.
  tests/system/guide_links.py SOURCE_DIR [BUILD_DIR]"""
import os
import re
import subprocess
import sys
import tempfile

LINK = re.compile(r'(!?)\[((?:[^\[\]]|\[[^\]]*\])*)\]\(\s*<?([^)\s>]+)>?(?:\s+"[^"]*")?\s*\)')
HEADING = re.compile(r'^(#{1,6})\s+(.*?)\s*#*\s*$')
PICTURE = re.compile(r'\.(png|jpe?g|svg|gif)$', re.I)
failures = []


def fail(text):
    failures.append(text)


def prose(path):
    """The lines of a Markdown file outside fenced code, inline code removed."""
    lines, fenced = [], False
    with open(path, encoding='utf-8') as f:
        for number, line in enumerate(f, 1):
            if line.lstrip().startswith('```'):
                fenced = not fenced
                continue
            if not fenced:
                lines.append((number, line.rstrip('\n')))
    return lines


def anchor(heading):
    # As GitHub and the help window (HeadingAnchor) make them.
    text = re.sub(r'\[([^\]]*)\]\([^)]*\)', r'\1', heading).replace('`', '').replace('*', '')
    text = re.sub(r'[^\w\- ]', '', text.strip().lower())
    return text.replace(' ', '-')


def anchors(path):
    found, seen = set(), {}
    for _, line in prose(path):
        match = HEADING.match(line)
        if match:
            name = anchor(match.group(2))
            count = seen.get(name, 0)
            seen[name] = count + 1
            found.add(name if count == 0 else f'{name}-{count}')
    return found


def links(path):
    for number, line in prose(path):
        for match in LINK.finditer(re.sub(r'`[^`]*`', '', line)):
            yield number, bool(match.group(1)), match.group(3)


def check(path, root, shown):
    """Every link of a page resolves; a guide's links stay inside root."""
    for number, picture, target in links(path):
        where = f'{shown(path)}:{number}: {target}'
        if re.match(r'^[a-z][a-z0-9+.-]*:', target, re.I):
            if picture:
                fail(f'{where}: a picture from the web, which the installed help cannot show')
            continue
        file, _, fragment = target.partition('#')
        resolved = os.path.normpath(os.path.join(os.path.dirname(path), file)) if file else path
        if root and not resolved.startswith(root + os.sep):
            fail(f'{where}: leads out of the guides, where the installed help cannot follow')
            continue
        if not os.path.isfile(resolved):
            fail(f'{where}: no such file')
            continue
        if picture and not PICTURE.search(resolved):
            fail(f'{where}: not a picture')
        if fragment:
            if not resolved.endswith('.md'):
                fail(f'{where}: an anchor in a page that is no guide')
            elif fragment not in anchors(resolved):
                fail(f'{where}: no heading has the anchor #{fragment}')


def pages(folder):
    for place, _, names in os.walk(folder):
        for name in sorted(names):
            if name.endswith('.md'):
                yield os.path.join(place, name)


def outline(path):
    levels, pictures = [], set()
    for _, line in prose(path):
        match = HEADING.match(line)
        if match:
            levels.append(len(match.group(1)))
    for _, picture, target in links(path):
        if picture:
            # A translation may show its own language's picture: NAME-LL.png.
            pictures.add(re.sub(r'-[a-z]{2}(\.png)$', r'\1', os.path.basename(target)))
    return levels, pictures


def main():
    source = os.path.abspath(sys.argv[1])
    build = sys.argv[2] if len(sys.argv) > 2 and sys.argv[2] else None
    docs = os.path.join(source, 'docs')
    relative = lambda path: os.path.relpath(path, source)

    readme = os.path.join(source, 'README.md')
    with open(readme, encoding='utf-8') as f:
        lines = f.read().split('\n')
    if len(lines) >= 150:
        fail(f'README.md has {len(lines)} lines: a newcomer reads under 150')
    for command in ('./run.sh', './test.sh'):
        if not any(command in line for line in lines[:40]):
            fail(f'README.md does not name {command} within its first 40 lines')
    check(readme, None, relative)

    guides = list(pages(docs))
    for guide in guides:
        check(guide, docs, relative)

    english = os.path.join(docs, 'user-guide.md')
    levels, pictures = outline(english)
    translations = [g for g in guides if os.path.basename(g) == 'user-guide.md' and g != english]
    if not translations:
        fail('no translated user guide (docs/LL/user-guide.md)')
    for translation in translations:
        their_levels, their_pictures = outline(translation)
        if their_levels != levels:
            fail(f'{relative(translation)}: its headings {their_levels} are not those of docs/user-guide.md {levels}')
        if their_pictures != pictures:
            fail(f'{relative(translation)}: pictures {sorted(their_pictures ^ pictures)} are in one guide only')

    if build:
        with tempfile.TemporaryDirectory() as prefix:
            subprocess.run(['cmake', '--install', build, '--prefix', prefix], check=True, stdout=subprocess.DEVNULL)
            help_folder = os.path.join(prefix, 'share', 'tessary', 'help')
            for guide in guides:
                installed = os.path.join(help_folder, os.path.relpath(guide, docs))
                if not os.path.isfile(installed):
                    fail(f'{relative(guide)} is not installed as {os.path.relpath(installed, prefix)}')
            for page in pages(help_folder):
                check(page, help_folder, lambda path: 'installed ' + os.path.relpath(path, prefix))

    for text in failures:
        print('FAIL:', text)
    if failures:
        return 1
    print(f'PASS: README.md and {len(guides)} guides, {sum(1 for g in guides + [readme] for _ in links(g))} links')
    return 0


if __name__ == '__main__':
    sys.exit(main())

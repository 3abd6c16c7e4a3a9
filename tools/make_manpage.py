#!/usr/bin/env python3
"""Writes the manual page and the bash completion of a program from its own --help.

    make_manpage.py --program PATH --name NAME --version VERSION --section SECTION_TITLE
                    [--examples FILE] [--see-also NAME...] --man OUT.1.gz [--completion OUT]

The program is run with --help, and with SUBCOMMAND --help for every subcommand its help lists,
so that the page and the completion say exactly what the program accepts. Two help layouts are
read: the command-line programs' (description, "Usage:", then "Positionals:", "Options:",
"Subcommands:" and "Examples:" sections, the item names in a column of their own) and the
window programs' (a "Usage:" line first, then the description, "Options:" and "Arguments:").

The hand-written part of a page (its EXAMPLES section and any other sections, already in roff)
comes from the examples file and is placed after the generated sections.

The page is compressed with gzip at the highest level, with no name or time in its header, and
the page's date is that of SOURCE_DATE_EPOCH when it is set, so that a rebuild makes the same
bytes.
"""
import argparse
import datetime
import gzip
import os
import re
import subprocess
import sys

SECTION_RE = re.compile(r'^([A-Z][A-Za-z ]*):$')
# An item line: two blanks, the name column, then the description after at least two blanks.
ITEM_RE = re.compile(r'^ {2}(\S.*?)(?: {2,}(\S.*))?$')
# Option names at the start of an item: "-h,--help", "-h, --help", "--trace", "-@FILE".
NAMES_RE = re.compile(r'^((?:--?[A-Za-z0-9@][\w@-]*)(?:, ?--?[A-Za-z0-9@][\w@-]*)*)(?: +(.*))?$')


class Item:
    def __init__(self, column, text):
        self.column = column.strip()
        self.text = text.strip() if text else ''

    def add(self, text):
        self.text = (self.text + ' ' + text.strip()).strip()


class Help:
    """One --help text taken apart."""

    def __init__(self, text, program_path, name):
        self.description = []
        self.usage = ''
        self.sections = {}  # title -> list of Item (or of raw lines for "Examples")
        self.order = []
        current = None
        for raw in text.replace(program_path, name).splitlines():
            line = raw.rstrip()
            if line.startswith('Usage: '):
                self.usage = line[len('Usage: '):].strip()
                current = None
                continue
            m = SECTION_RE.match(line)
            if m:
                current = m.group(1)
                self.sections[current] = []
                self.order.append(current)
                continue
            if current is None:
                # Blank lines stay: they part paragraphs.
                if line or self.description:
                    self.description.append(line.strip())
                continue
            items = self.sections[current]
            if current == 'Examples':
                items.append(line)
                continue
            if not line:
                continue
            if line.startswith(' ' * 8) and items:
                items[-1].add(line)
                continue
            m = ITEM_RE.match(line)
            if m:
                items.append(Item(m.group(1), m.group(2)))
            elif items:
                items[-1].add(line)

    def paragraphs(self):
        """The description as paragraphs: a blank line or a line that ends a sentence ends one;
        other lines were wrapped and are joined."""
        result, current = [], []
        for line in self.description + ['']:
            if line:
                current.append(line)
            if current and (not line or line.endswith('.')):
                result.append(' '.join(current))
                current = []
        return result

    def items(self, *titles):
        result = []
        for t in titles:
            result.extend(self.sections.get(t, []))
        return result


def run_help(program, args):
    env = dict(os.environ)
    env.setdefault('QT_QPA_PLATFORM', 'offscreen')
    # The programs' help is the same whatever the locale; keep it stable anyway.
    env['LC_ALL'] = 'C.UTF-8'
    done = subprocess.run([program] + args + ['--help'], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, env=env, timeout=60)
    if done.returncode != 0:
        sys.exit('%s %s --help ended with status %d: %s' %
                 (program, ' '.join(args), done.returncode, done.stderr.decode(errors='replace')))
    return done.stdout.decode('utf-8')


# ---- roff ----------------------------------------------------------------------------------


def roff_text(text):
    """Text for a roff line: backslashes escaped, a leading dot or quote guarded, and minus signs
    of options (a '-' that starts a word) written as minus signs rather than hyphens."""
    text = text.replace('\\', '\\e')
    text = re.sub(r'(^|(?<=[\s(\[\'"=,]))-', r'\\-', text)
    text = text.replace('\\--', '\\-\\-')
    if text.startswith(('.', "'")):
        text = '\\&' + text
    return text


def option_heading(column):
    """The bold names and the italic value of an option item ("--trace INT" -> \\fB...\\fR)."""
    m = NAMES_RE.match(column)
    if not m:
        return '\\fB%s\\fR' % roff_text(column)
    names = ', '.join('\\fB%s\\fR' % roff_text(n.strip()) for n in m.group(1).split(','))
    rest = m.group(2)
    return names + (' \\fI%s\\fR' % roff_text(rest) if rest else '')


def item_list(out, items, heading=option_heading):
    for it in items:
        out.append('.TP')
        out.append(heading(it.column))
        out.append(roff_text(it.text) if it.text else '.')


def positional_heading(column):
    parts = column.split(None, 1)
    rest = ' \\fI%s\\fR' % roff_text(parts[1]) if len(parts) > 1 else ''
    return '\\fB%s\\fR%s' % (roff_text(parts[0]), rest)


def synopsis(out, usage, name):
    words = usage.split(None, 1)
    out.append('.B %s' % roff_text(words[0] if words else name))
    if len(words) > 1:
        out.append(roff_text(words[1]))


def whatis(name, paragraphs):
    """The NAME line: the first sentence of the help, beginning in lower case."""
    first = paragraphs[0] if paragraphs else name
    first = re.split(r'(?<=\.)\s', first)[0].rstrip('.')
    # "The linkage editor: reads ..." is named by what comes before the colon.
    first = first.split(': ', 1)[0]
    if first[:1].isupper() and not first[1:2].isupper():
        first = first[0].lower() + first[1:]
    return '%s \\- %s' % (name, roff_text(first))


def page_date():
    epoch = os.environ.get('SOURCE_DATE_EPOCH')
    when = (datetime.datetime.fromtimestamp(int(epoch), datetime.timezone.utc) if epoch
            else datetime.datetime.now(datetime.timezone.utc))
    return when.strftime('%Y-%m-%d')


def manual_page(name, version, title, main, subs, examples, see_also):
    out = ['.\\" Made by tools/make_manpage.py from "%s --help"; edit the program\'s help or' % name,
           '.\\" the hand-written part, not this file.',
           '.TH %s 1 "%s" "opxkit %s" "%s"' % (name.upper(), page_date(), version, title),
           '.SH NAME', whatis(name, main.paragraphs()), '.SH SYNOPSIS']
    synopsis(out, main.usage, name)
    for sub, h in subs:
        out.append('.br')
        synopsis(out, h.usage, name)
    out.append('.SH DESCRIPTION')
    for paragraph in main.paragraphs():
        out.append('.PP')
        out.append(roff_text(paragraph))
    positionals = main.items('Positionals', 'Arguments')
    if positionals:
        out.append('.SH ARGUMENTS')
        item_list(out, positionals, positional_heading)
    if main.items('Options'):
        out.append('.SH OPTIONS')
        item_list(out, main.items('Options'))
    if subs:
        out.append('.SH COMMANDS')
        for sub, h in subs:
            out.append('.SS "%s"' % roff_text(h.usage))
            for paragraph in h.paragraphs():
                out.append(roff_text(paragraph[:1].upper() + paragraph[1:]))
                out.append('.PP')
            if h.items('Positionals', 'Arguments'):
                item_list(out, h.items('Positionals', 'Arguments'), positional_heading)
            # Every command takes --help; the page says so once, under OPTIONS.
            item_list(out, [i for i in h.items('Options') if '--help' not in i.column])
            example_lines = [l for l in h.sections.get('Examples', []) if l.strip()]
            if example_lines:
                out.append('.PP')
                out.append('Examples:')
                out.append('.PP')
                out.append('.nf')
                out.append('.RS 4')
                out.extend(roff_text(l.strip()) for l in example_lines)
                out.append('.RE')
                out.append('.fi')
    if examples:
        out.append(examples.rstrip('\n'))
    others = [s for s in see_also if s != name]
    if others:
        out.append('.SH SEE ALSO')
        out.append(',\n'.join('.BR %s (1)' % s for s in others))
    return '\n'.join(out) + '\n'


# ---- bash completion -----------------------------------------------------------------------


NUMBER_RE = re.compile(r'^(?:U?INT|FLOAT|NUMBER)\b')


def option_words(items):
    """(names, value, choices) for each option item; value is None for a flag, 'number' for a
    number and 'text' for anything else."""
    result = []
    for it in items:
        m = NAMES_RE.match(it.column)
        if not m:
            continue
        names = [n.strip() for n in m.group(1).split(',')]
        rest = (m.group(2) or '').strip()
        choices = []
        c = re.search(r'\{([^}]*)\}', rest)
        if c:
            choices = [w.strip() for w in c.group(1).split(',') if w.strip()]
        value = None if not rest else 'number' if NUMBER_RE.match(rest) else 'text'
        result.append((names, value, choices))
    return result


def shell_name(name):
    return re.sub(r'[^A-Za-z0-9_]', '_', name)


def completion(name, main, subs):
    fn = '_opxkit_' + shell_name(name)
    top = option_words(main.items('Options'))
    lines = ['# bash completion for %s, made by tools/make_manpage.py from its --help.' % name,
             '%s() {' % fn,
             '    local cur=${COMP_WORDS[COMP_CWORD]} prev=',
             '    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}',
             '    # --option=value: bash splits the word at "=", and the option comes before it.',
             '    [[ $prev == = ]] && ((COMP_CWORD > 1)) && prev=${COMP_WORDS[COMP_CWORD - 2]}',
             '    local sub= i w skip=']

    def takes_value_case(opts, indent):
        valued = [n for names, v, _ in opts if v for n in names]
        if valued:
            lines.append('%scase $w in %s) skip=1 ;; esac' % (indent, '|'.join(valued)))

    # The subcommand is the first word that names one, after the top-level options and their
    # values.
    lines.append('    for ((i = 1; i < COMP_CWORD; i++)); do')
    lines.append('        w=${COMP_WORDS[i]}')
    lines.append('        if [[ -n $skip ]]; then skip=; continue; fi')
    if subs:
        lines.append('        case $w in %s) sub=$w; break ;; esac' % '|'.join(s for s, _ in subs))
    takes_value_case(top, '        ')
    lines.append('    done')

    def value_case(opts):
        # Completion of an option's value: its choices, or file names; none for numbers.
        for names, valued, choices in opts:
            if not valued:
                continue
            pattern = '|'.join(names)
            if choices:
                lines.append('        %s) COMPREPLY=($(compgen -W "%s" -- "$cur")); return ;;'
                             % (pattern, ' '.join(choices)))
            elif valued == 'number':
                lines.append('        %s) return ;;' % pattern)
            else:
                lines.append('        %s) _opxkit_files; return ;;' % pattern)

    def words_of(opts):
        return ' '.join(n for names, _, _ in opts for n in names if n.startswith('-'))

    def positional_files(h):
        return bool(h.items('Positionals', 'Arguments'))

    lines.append('    case ${sub} in')
    for sub, h in subs:
        opts = option_words(h.items('Options'))
        lines.append('    %s)' % sub)
        lines.append('        case $prev in')
        value_case(opts)
        lines.append('        esac')
        lines.append('        if [[ $cur == -* ]]; then')
        lines.append('            COMPREPLY=($(compgen -W "%s" -- "$cur"))' % words_of(opts))
        if positional_files(h):
            lines.append('        else')
            lines.append('            _opxkit_files')
        lines.append('        fi')
        lines.append('        ;;')
    lines.append('    *)')
    lines.append('        case $prev in')
    value_case(top)
    lines.append('        esac')
    words = words_of(top)
    lines.append('        if [[ $cur == -* ]]; then')
    lines.append('            COMPREPLY=($(compgen -W "%s" -- "$cur"))' % words)
    if subs:
        lines.append('        else')
        lines.append('            COMPREPLY=($(compgen -W "%s" -- "$cur"))'
                     % ' '.join(s for s, _ in subs))
    elif positional_files(main):
        lines.append('        else')
        lines.append('            _opxkit_files')
    lines.append('        fi')
    lines.append('        ;;')
    lines.append('    esac')
    lines.append('}')
    lines.append('# File names, with the completion of folders and of names with blanks done by')
    lines.append('# bash itself.')
    lines.append('type _opxkit_files &>/dev/null || _opxkit_files() {')
    lines.append('    compopt -o filenames 2>/dev/null')
    lines.append('    local IFS=$\'\\n\'')
    lines.append('    COMPREPLY=($(compgen -f -- "$cur"))')
    lines.append('}')
    lines.append('complete -F %s %s' % (fn, name))
    return '\n'.join(lines) + '\n'


def write_atomically(path, data):
    tmp = path + '.tmp'
    with open(tmp, 'wb') as f:
        f.write(data)
    os.replace(tmp, path)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    ap.add_argument('--program', required=True)
    ap.add_argument('--name', required=True)
    ap.add_argument('--version', required=True)
    ap.add_argument('--section', default='User Commands')
    ap.add_argument('--examples')
    ap.add_argument('--see-also', nargs='*', default=[])
    ap.add_argument('--man', required=True)
    ap.add_argument('--completion')
    a = ap.parse_args()

    main_help = Help(run_help(a.program, []), a.program, a.name)
    subs = []
    for it in main_help.items('Subcommands'):
        sub = it.column.split()[0]
        subs.append((sub, Help(run_help(a.program, [sub]), a.program, a.name)))
    if not main_help.usage:
        sys.exit('%s --help shows no "Usage:" line' % a.program)

    examples = ''
    if a.examples:
        with open(a.examples, encoding='utf-8') as f:
            examples = ''.join(l for l in f if not l.startswith('#'))
    page = manual_page(a.name, a.version, a.section, main_help, subs, examples, a.see_also)
    buf = gzip.compress(page.encode('utf-8'), compresslevel=9, mtime=0)
    os.makedirs(os.path.dirname(os.path.abspath(a.man)), exist_ok=True)
    write_atomically(a.man, buf)
    if a.completion:
        os.makedirs(os.path.dirname(os.path.abspath(a.completion)), exist_ok=True)
        write_atomically(a.completion, completion(a.name, main_help, subs).encode('utf-8'))


if __name__ == '__main__':
    main()

#!/usr/bin/env python3
"""Doxygen input filter for the platform stand-ins' headers.

The stand-ins document their interfaces in plain comments, as the closed components they
stand in for do, so that a real component's headers can replace them. This filter shows
Doxygen those comments as documentation, without changing the headers:

  - the comment at the top of the file becomes the file's description (@file);
  - a block of comment lines directly above a declaration documents that declaration;
  - a comment after a declaration on the same line (and its continuation lines, aligned
    below it) documents that declaration;
  - comments inside function bodies, and comment blocks followed by a blank line (section
    headings and notes), stay plain comments.

Both comment styles of the headers are handled: `// ...` lines and `/* ... */` blocks.
An indented example or table in a description (a line that starts with two or more blanks
after the comment marker) is kept as it is written, in a code block.

Usage: comment_filter.py HEADER   (writes the filtered text to standard output)
"""
import re
import sys

SCOPE = re.compile(r'\b(class|struct|namespace|enum|union)\b|extern "C"')
ACCESS = re.compile(r'(public|private|protected)\s*:')


LIST_ITEM = re.compile(r' {1,2}(-|\d+\.) ')


def is_verbatim(body):
    """A description line that is part of an example or a table (indented by 3 or more)."""
    return body.startswith('   ') and body.strip() != ''


def escaped(text):
    """Plain text for Doxygen: the characters it reads as commands, HTML or emphasis are
    escaped, except inside `code spans`, which Doxygen shows as they are."""
    parts = text.split('`')
    for k in range(0, len(parts), 2):  # outside the code spans
        parts[k] = re.sub(r'([\\@%<>&*#$])', r'\\\1', parts[k])
        # "e.g. " is no end of a sentence, which a brief description runs to.
        parts[k] = re.sub(r'\b(e\.g|i\.e)\. ', r'\1.\\ ', parts[k])
    return '`'.join(parts)


def describe(lines, marker):
    """Doxygen comment lines for the description `lines` (texts after the comment marker):
    indented runs (examples, tables) are wrapped in @code{.unparsed} ... @endcode; list items
    ("- item", "1. item") and their indented continuation lines stay text."""
    out = []
    in_list = False
    i = 0
    while i < len(lines):
        if LIST_ITEM.match(lines[i]):
            in_list = True
        elif not lines[i].strip() or not lines[i].startswith(' ' * 3):
            in_list = False
        if is_verbatim(lines[i]) and not in_list:
            j = i
            while j < len(lines) and (is_verbatim(lines[j]) or
                                      (lines[j].strip() == '' and j + 1 < len(lines) and
                                       is_verbatim(lines[j + 1]))):
                j += 1
            out.append(marker + ' @code{.unparsed}')
            out.extend(marker + l for l in lines[i:j])
            out.append(marker + ' @endcode')
            i = j
        else:
            out.append(marker + escaped(lines[i]) if lines[i] else marker)
            i += 1
    return out


DECLARED_NAME = re.compile(r'(operator\s*[^\s(]+|[~\w]+)\s*\(')


def declaration_end(lines, i):
    """The index past the declaration starting at line i (it ends at ';' or at a closing
    brace at its own depth)."""
    depth = 0
    j = i
    while j < len(lines):
        for ch in lines[j]:
            if ch == '{':
                depth += 1
            elif ch == '}':
                depth -= 1
        if depth <= 0 and (lines[j].rstrip().endswith((';', '}')) or
                           re.search(r';\s*(//.*|/\*.*)?$', lines[j])):
            return j + 1
        j += 1
    return j


def sort_of(line):
    """What a declaration declares, for telling a run of alike declarations: a macro, an
    external variable, an inline function (the C++ forms of a C interface), the allocation
    operators, or a function of some name; None for anything else."""
    line = line.strip()
    if line.startswith('#define'):
        return 'macro'
    if line.startswith(('#', '//', '/*', '*')) or not line:
        return None
    if line.startswith('extern') and '(' not in line:
        return 'variable'
    if line.startswith('inline '):
        return 'inline function'
    m = DECLARED_NAME.search(line)
    if not m:
        return None
    name = re.sub(r'\s+', ' ', m.group(1))
    if re.match(r'operator (new|delete)', name) or name in ('operatornew', 'operatordelete'):
        return 'allocation'
    return 'function ' + name


def alike_run(lines, i):
    """When the declarations starting at line i are alike (overloads of one function, macros,
    external variables, inline functions, the allocation operators) and next to each other (no blank line or
    comment between), the index past the last of them; else i."""
    sort = sort_of(lines[i]) if i < len(lines) else None
    if not sort:
        return i
    end = declaration_end(lines, i) if sort != 'macro' else i + 1
    count = 1
    while end < len(lines) and sort_of(lines[end]) == sort:
        end = declaration_end(lines, end) if sort != 'macro' else end + 1
        count += 1
    return end if count > 1 else i


def comment_texts(block):
    """The texts of a `//` block (after "//") or of a `/* */` block (after " *")."""
    first = block[0].strip()
    if first.startswith('//'):
        return [l.strip()[2:] for l in block]
    texts = []
    for l in block:
        t = l.strip()
        if t.startswith('/*'):
            t = t[2:]
        elif t.startswith('*') and not t.startswith('*/'):
            t = t[1:]
        if t.endswith('*/'):
            t = t[:-2].rstrip()
        if t.strip() or texts:
            texts.append(t)
    while texts and not texts[-1].strip():
        texts.pop()
    return texts


def read_block(lines, i):
    """The comment block starting at line i: (end index, its lines)."""
    if lines[i].strip().startswith('//'):
        j = i
        while j < len(lines) and lines[j].strip().startswith('//'):
            j += 1
        return j, lines[i:j]
    j = i
    while j < len(lines) and '*/' not in lines[j]:
        j += 1
    return j + 1, lines[i:j + 1]


def filtered(text):
    lines = text.split('\n')
    out = []
    i = 0
    # The file's description.
    if lines and lines[0].lstrip().startswith(('//', '/*')):
        i, block = read_block(lines, 0)
        out.append('/// @file')
        out.extend(describe(comment_texts(block), '///'))
    scopes = []  # per open brace: True for a class, namespace..., False for a body
    statement = ''  # the code since the last ';', '{' or '}'
    trailing_at = None  # column of the trailing comment on the line before
    while i < len(lines):
        line = lines[i]
        stripped = line.strip()
        in_body = any(not s for s in scopes)
        if stripped.startswith(('//', '/*')) and not in_body:
            j, block = read_block(lines, i)
            indent = line[:len(line) - len(line.lstrip())]
            if trailing_at is not None and len(indent) == trailing_at and stripped.startswith('//'):
                out.extend(indent + '///<' + l.strip()[2:] for l in block)
                i = j
                continue
            following = lines[j].strip() if j < len(lines) else ''
            documents = (following and not following.startswith(('}', '//', '/*')) and
                         (not following.startswith('#') or following.startswith('#define')) and
                         not ACCESS.match(following))
            trailing_at = None
            if not documents:
                out.extend(block)
                i = j
                continue
            description = [indent + l for l in describe(comment_texts(block), '///')]
            out.extend(description)
            # A comment above a run of alike declarations documents each of them. The copies
            # take the places of lines of the run, so that line numbers stay the header's.
            end = alike_run(lines, j)
            if end > j:
                k = j
                while k < end:
                    after = declaration_end(lines, k) if sort_of(lines[k]) != 'macro' else k + 1
                    if k > j:
                        out.extend(description)
                    out.extend(lines[k:after])
                    k = after
                i = end
            else:
                i = j
            continue
        trailing_at = None
        code = line
        if not in_body and not stripped.startswith('#'):
            m = re.search(r'[;,{}]\s+(//|/\*)(?![/*<])', line)
            if m and line.count('"', 0, m.start()) % 2 == 0:
                at = m.start(1)
                if m.group(1) == '//':
                    line = line[:at] + '///<' + line[at + 2:]
                    trailing_at = at
                else:
                    line = line[:at] + '/**<' + line[at + 2:]
                code = line[:at]
        for ch in code:
            if ch == '{':
                # A class head may run over several lines: the whole statement decides.
                scopes.append(bool(SCOPE.search(statement)))
                statement = ''
            elif ch == '}':
                if scopes:
                    scopes.pop()
                statement = ''
            elif ch == ';':
                statement = ''
            else:
                statement += ch
        statement += ' '
        out.append(line)
        i += 1
    return '\n'.join(out)


if __name__ == '__main__':
    with open(sys.argv[1], encoding='utf-8', errors='surrogateescape') as f:
        sys.stdout.write(filtered(f.read()))

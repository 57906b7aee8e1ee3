"""The command-line tool's parser, for sphinx-argparse (docs/cli.rst).

The parser is ``phenomd.cli.build_parser()``, unchanged, except that a
description or epilog written for ``RawDescriptionHelpFormatter`` (laid out
in columns, as ``phenomd COMMAND --help`` prints it) becomes a reST literal
block, so the page shows it as the terminal does instead of parsing its
indentation as markup.
"""

import argparse

from phenomd.cli import build_parser


def _literal(text):
    if not text or "\n" not in text:
        return text
    return "::\n\n" + "\n".join("    " + line for line in text.splitlines()) + "\n"


def _adapt(parser):
    if issubclass(parser.formatter_class, argparse.RawDescriptionHelpFormatter):
        parser.description = _literal(parser.description)
        parser.epilog = _literal(parser.epilog)
    for action in parser._actions:  # the subcommands' parsers
        if isinstance(action, argparse._SubParsersAction):
            for sub in action.choices.values():
                _adapt(sub)
    return parser


def parser():
    return _adapt(build_parser())

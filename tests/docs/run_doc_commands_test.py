#!/usr/bin/env python3
"""The documentation checker's own cases: what it reads as a command and its status, and
that a page whose command ends otherwise than it says fails."""
import os
import shutil
import stat
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_doc_commands as docs  # noqa: E402


class ReadingTest(unittest.TestCase):
    def test_blocks_and_commands(self):
        page = "\n".join([
            "# Title",
            "```sh runnable",
            "velmora list",
            "# a comment line",
            "velmora run upgrade --device sim </dev/null   # exit 64: needs --firmware",
            "velmora run dump \\",
            "    --log-file 'a # exit 3.log'",
            "```",
            "",
            "   ```sh real-device",
            "   velmora run config --device /dev/ttyUSB0",
            "   ```",
            "```",
            "output, not a command",
            "```",
            "```sh",
            "velmora ports",
            "```",
        ])
        blocks = docs.read_blocks("p.md", page)
        self.assertEqual([(b.line, b.kind) for b in blocks],
                         [(2, "runnable"), (10, "real-device"), (16, "")])
        commands = docs.commands_of(blocks[0])
        self.assertEqual([(c.line, c.expected) for c in commands], [(3, 0), (5, 64), (6, 0)])
        self.assertEqual(commands[2].text, "velmora run dump      --log-file 'a # exit 3.log'")
        self.assertEqual(docs.commands_of(blocks[1])[0].text, "velmora run config --device /dev/ttyUSB0")


class RunningTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="docs-checker-")
        self.source = os.path.join(self.dir, "src")
        os.makedirs(os.path.join(self.source, "resources", "samples"))
        with open(os.path.join(self.source, "resources", "samples", "velmora-sample.x"), "w") as f:
            f.write("S0030000FC\n")
        self.bin = os.path.join(self.dir, "bin")
        os.makedirs(self.bin)
        # A stand-in velmora: ends with the status its first argument names, and shows
        # where it runs and which registry it has.
        tool = os.path.join(self.bin, "velmora")
        with open(tool, "w") as f:
            f.write('#!/bin/sh\necho "$PWD $VELMORA_REGISTRY"\n'
                    'test -f resources/samples/velmora-sample.x || exit 70\nexit "$1"\n')
        os.chmod(tool, os.stat(tool).st_mode | stat.S_IEXEC)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def run_page(self, text):
        blocks = docs.read_blocks("p.md", text)
        return docs.run_page("p.md", blocks, self.source, self.bin)

    def test_statuses_as_the_page_says_pass(self):
        self.assertEqual(self.run_page("```sh runnable\nvelmora 0\nvelmora 64   # exit 64\n```\n"), [])

    def test_a_status_otherwise_fails_naming_the_line(self):
        failures = self.run_page("```sh runnable\nvelmora 0\nvelmora 1\nvelmora 0\n```\n")
        self.assertEqual(len(failures), 1)
        self.assertIn("p.md:3: `velmora 1` ended with 1, the page says 0", failures[0])

    def test_an_unmarked_shell_block_fails_and_real_device_blocks_are_not_run(self):
        failures = self.run_page("```sh\nvelmora 0\n```\n```sh real-device\nvelmora 5\n```\n")
        self.assertEqual(len(failures), 1)
        self.assertIn("must be marked", failures[0])

    def test_a_real_device_block_that_is_no_shell_fails(self):
        failures = self.run_page("```sh real-device\nvelmora run 'unclosed\n```\n")
        self.assertEqual(len(failures), 1)
        self.assertIn("not a valid command", failures[0])

    def test_the_scratch_registry_is_the_page_s_own_and_goes_afterwards(self):
        blocks = docs.read_blocks("p.md", "```sh runnable\nvelmora 0 > where.txt\n"
                                  "test \"$VELMORA_REGISTRY\" = \"$PWD/registry.db\"\n"
                                  "test \"$HOME\" = \"$PWD\"\n```\n")
        self.assertEqual(docs.run_page("p.md", blocks, self.source, self.bin), [])
        self.assertEqual([n for n in os.listdir(tempfile.gettempdir())
                          if n.startswith("velmora-docs-") and
                          os.path.exists(os.path.join(tempfile.gettempdir(), n, "where.txt"))], [])


class ReferenceTest(unittest.TestCase):
    def test_an_option_the_help_lists_and_the_reference_does_not_name_is_a_gap(self):
        root = tempfile.mkdtemp(prefix="docs-reference-")
        self.addCleanup(shutil.rmtree, root)
        os.makedirs(os.path.join(root, "docs"))
        with open(os.path.join(root, "docs", "reference.md"), "w") as f:
            f.write("`--port N` and `--device`; the setting `fs-mb=N`\n")
        helps = {
            "velmora": "Options:\n  -h,--help   help\n  --port INT  the port\n  --device TEXT  x\n",
            "velmora-gui": "Options:\n  -h, --help  help\n  --help-all  all\n  --device <D>  x\n  --screenshots <DIR>  y\n",
            "kv70sim": "Options:\n  --fs-mb N ...  size\n  --pty   serve\n",
        }
        for name, text in helps.items():
            tool = os.path.join(root, name)
            with open(tool, "w") as f:
                f.write("#!/bin/sh\ncat <<'EOF'\n%sEOF\n" % text)
            os.chmod(tool, os.stat(tool).st_mode | stat.S_IEXEC)
        gaps = docs.reference_gaps(root, root)
        self.assertIn("docs/reference.md does not name --screenshots of velmora-gui", gaps)
        self.assertIn("docs/reference.md does not name --pty of kv70sim", gaps)
        self.assertFalse([g for g in gaps if "--port" in g or "--device" in g or "--fs-mb" in g
                          or "--help" in g], gaps)


if __name__ == "__main__":
    unittest.main()

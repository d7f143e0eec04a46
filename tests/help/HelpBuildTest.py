#!/usr/bin/python3
"""The help build (help/build-help.py) fails on an unsound help, and compiles a sound one.

Each case copies help/ and the program texts it checks against into a scratch folder, breaks
one thing and runs the build there, as the build of the tree runs it.
Run: HelpBuildTest.py REPOSITORY CHMCMD CHMLS
"""
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ROOT = CHMCMD = CHMLS = None


class HelpBuild(unittest.TestCase):
    def setUp(self):
        self.scratch = Path(tempfile.mkdtemp(prefix="help-test-"))
        self.root = self.scratch / "repo"
        for part in ["help", "app", "cli", "research", "services/program", "services/get", "datawindow"]:
            shutil.copytree(ROOT / part, self.root / part)
        for part in ["services/README.md", "packaging/quillet.nsi"]:
            (self.root / part).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy(ROOT / part, self.root / part)

    def tearDown(self):
        shutil.rmtree(self.scratch)

    def edit(self, path, old, new):
        file = self.root / path
        text = file.read_text(encoding="utf-8")
        self.assertIn(old, text, f"{path} has changed: the test needs another line to break")
        file.write_text(text.replace(old, new, 1), encoding="utf-8")

    def build(self, *extra):
        return subprocess.run(
            [sys.executable, self.root / "help/build-help.py", "--root", self.root, "--out", self.scratch / "out",
             "--chmcmd", CHMCMD, *extra],
            capture_output=True, text=True)

    def assertFails(self, *said):
        run = self.build("--check-only")
        self.assertNotEqual(run.returncode, 0, "the build passed an unsound help")
        for words in said:
            self.assertIn(words, run.stderr)

    def test_compiles_every_page_into_one_chm_with_contents_index_and_search(self):
        run = self.build()
        self.assertEqual(run.returncode, 0, run.stderr)
        listing = subprocess.run([CHMLS, "list", self.scratch / "out/help.chm"], capture_output=True, text=True).stdout
        pages = [line.strip() for line in (self.root / "help/contents.txt").read_text().splitlines()
                 if line.strip() and not line.startswith("#")]
        for page in pages:
            self.assertIn("/" + page.replace(".md", ".html"), listing)
        for part in ["/toc.hhc", "/index.hhk", "/$FIftiMain", "/$WWKeywordLinks/BTree"]:
            self.assertIn(part, listing)
        # The one text of the formats: every heading of the README's section is a heading of the page.
        readme = (self.root / "services/README.md").read_text()
        section = readme.split("\n## Loading real data\n")[1].split("\n## ")[0]
        page = (self.scratch / "out/html/import-formats.html").read_text()
        for heading in re.findall(r"^### (.+)$", section, re.M):
            self.assertIn(">" + heading.replace("`", "").split(" (")[0], page.replace("<code>", "").replace("</code>", ""))

    def test_a_link_to_a_missing_page_or_anchor_fails(self):
        self.edit("help/pages/welcome.md", "(getting-started.md)", "(getting-startd.md)")
        self.edit("help/pages/settings.md", "(keyboard.md#the-settings-dialog)", "(keyboard.md#the-setting-dialog)")
        self.edit("help/pages/troubleshooting.md", "(#the-services-log)", "(#the-service-log)")
        self.assertFails("welcome.md: link to getting-startd.html: no such page",
                         "settings.md: link to keyboard.html#the-setting-dialog: keyboard.html has no anchor",
                         "troubleshooting.md: link to #the-service-log")

    def test_an_index_entry_to_a_missing_anchor_fails(self):
        self.edit("help/pages/keyboard.md", "Index: Esc key #during-a-research", "Index: Esc key #during-research")
        self.assertFails("keyboard.md: Index: Esc key: link to keyboard.html#during-research")

    def test_the_contents_and_the_pages_must_agree(self):
        (self.root / "help/pages/orphan.md").write_text("# Orphan\n")
        self.assertFails("help/pages/orphan.md: not in contents.txt")
        (self.root / "help/pages/orphan.md").unlink()
        self.edit("help/contents.txt", "  settings.md\n", "  settings.md\n  missing.md\n")
        self.assertFails("help/pages/missing.md does not exist")

    def test_a_caption_the_program_does_not_show_fails(self):
        self.edit("help/pages/idea-catcher.md", "{{Add\nselection to Idea Catcher}}", "{{Add selection to Ideas}}")
        self.edit("app/MainForm.cpp", '"Enter in a topic:"', '"Type a topic:"')
        self.edit("datawindow/DataForm.cpp", '"Get open data..."', '"Fetch open data..."')
        self.assertFails("idea-catcher.md: {{Add selection to Ideas}} is no caption",
                         "getting-started.md: {{Enter in a topic:}} is no caption",
                         "getting-open-data.md: {{Get open data...}} is no caption")

    def test_a_message_built_from_parts_matches_only_its_fixed_text(self):
        self.edit("help/pages/troubleshooting.md", "{{cannot listen on 127.0.0.1:8790}}", "{{cannot bind 127.0.0.1:8790}}")
        self.edit("help/pages/troubleshooting.md", "{{cannot run quillet-services.exe (error 2)}}",
                  "{{could not run quillet-services.exe (error 2)}}")
        self.assertFails("{{cannot bind 127.0.0.1:8790}} is no caption", "{{could not run quillet-services.exe")

    def test_an_included_section_that_is_gone_fails(self):
        self.edit("services/README.md", "## Loading real data", "## Loading data")
        self.assertFails('no section "Loading real data"')


if __name__ == "__main__":
    ROOT, CHMCMD, CHMLS = Path(sys.argv[1]), sys.argv[2], sys.argv[3]
    unittest.main(argv=sys.argv[:1], verbosity=2)

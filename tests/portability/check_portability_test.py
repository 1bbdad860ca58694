"""What scripts/check-portability.py refuses and what it lets through: the
guards it must understand, and the forms that break on the Mac."""

import importlib.util
import os
import unittest

_path = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "check-portability.py")
_spec = importlib.util.spec_from_file_location("check_portability", _path)
checker = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(checker)


def cpp_lines(text):
    return [line for _, line, _ in checker.check_cpp("f.cpp", text)]


def shell_lines(text):
    return [line for _, line, _ in checker.check_shell("f.sh", text)]


class CppGuards(unittest.TestCase):
    def test_each_guard(self):
        cases = [
            ("bare", "x = s.st_mtim;\n", [1]),
            ("comment only", "// st_mtim is Linux's\n/* pipe2 */ int x;\n", []),
            ("string literal", 'read("/proc/self/exe");\n', [1]),
            ("ifdef linux", "#ifdef __linux__\npipe2(f, 0);\n#else\npipe(f);\n#endif\n", []),
            ("else of linux", "#ifdef __linux__\npipe(f);\n#else\npipe2(f, 0);\n#endif\n", [4]),
            ("else of apple", "#ifdef __APPLE__\nst_mtimespec;\n#else\nst_mtim;\n#endif\n", []),
            ("elif after apple", "#if defined(__APPLE__)\na;\n#elif defined(X)\nepoll_wait();\n#endif\n",
             []),
            ("ifndef apple", "#ifndef __APPLE__\naccept4();\n#endif\n", []),
            ("ifndef linux then else", "#ifndef __linux__\nreturn -1;\n#else\nprctl();\n#endif\n", []),
            ("nested, outer Mac", "#ifdef __APPLE__\n#ifdef X\nmemfd_create();\n#endif\n#endif\n", [3]),
            ("after the endif", "#ifdef __linux__\n#endif\nSOCK_CLOEXEC;\n", [3]),
            ("linux or other", "#if defined(__linux__) || defined(__FreeBSD__)\nMSG_NOSIGNAL;\n#endif\n",
             [2]),
            ("longer names pass", "info.st_mtimespec; getrandomish();\n", []),
        ]
        for name, text, refused in cases:
            with self.subTest(name):
                self.assertEqual(cpp_lines(text), refused)


class ShellForms(unittest.TestCase):
    def test_each_form(self):
        cases = [
            ("date %3N", "start=$(date +%s%3N)\n", [1]),
            ("date seconds", "start=$(date +%s)\n", []),
            ("sed -i bare", "sed -i 's/a/b/' f\n", [1]),
            ("sed -i suffix", "sed -i.bak 's/a/b/' f\n", []),
            ("stat -c", "stat -c %s f\n", [1]),
            ("readlink -f", 'x=$(readlink -f "$0")\n', [1]),
            ("find -printf", "find . -type f -printf '%p'\n", [1]),
            ("declare -A", "declare -A seen\n", [1]),
            ("mapfile", "mapfile -t xs < <(ls)\n", [1]),
            ("lower case", 'echo "${name,,}"\n', [1]),
            ("timeout bare", "timeout 5 sleep 9\n", [1]),
            ("timeout tested", "if command -v timeout >/dev/null; then\n    timeout 5 x\nfi\n", []),
            ("timeout in a comment", "# no timeout here\n", []),
            ("empty array", 'a=()\nrun "${a[@]}"\necho "${a[*]}"\n', [2, 3]),
            ("empty array, safe forms", 'a=()\nrun ${a[@]+"${a[@]}"}\necho "${a[*]:-}" ${#a[@]}\n',
             []),
            ("array never emptied", 'a=(x y)\nrun "${a[@]}"\n', []),
            ("epoch without fallback", "t=$EPOCHREALTIME\n", [1]),
            ("epoch with fallback", 'if [ -n "${EPOCHREALTIME:-}" ]; then\n    t=${EPOCHREALTIME}\nfi\n',
             []),
        ]
        for name, text, refused in cases:
            with self.subTest(name):
                self.assertEqual(shell_lines(text), refused)


if __name__ == "__main__":
    unittest.main()

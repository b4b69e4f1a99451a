"""ansible-test without a network: runs ansible-test (same arguments) with the sanity tests'
tools taken from the Python that runs this script (Debian's pylint, pycodestyle, yamllint,
voluptuous...) instead of virtual environments that ansible-test would fill from PyPI."""
import sys

import ansible_test._internal.commands.sanity as sanity
import ansible_test._internal.util as util
from ansible_test._internal.host_configs import VirtualPythonConfig


def this_python(args, python, name, coverage=False, minimize=False):
    """The interpreter given with --python-interpreter, in place of a per-test environment."""
    return VirtualPythonConfig(version=python.version, path=python.path)


sanity.create_sanity_virtualenv = this_python
sanity.check_sanity_virtualenv_yaml = lambda python: True
# ansible-test formats a failure whose output it did not capture as None: show it, not a crash.
_format = util.format_command_output
util.format_command_output = lambda stdout, stderr: _format(stdout or '', stderr or '')

from ansible_test._internal import main  # noqa: E402 (after the environments are replaced)

sys.argv[0] = 'ansible-test'
main()

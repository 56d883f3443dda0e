"""Copies the built quorlib module into the user's site-packages of this Python.

    install-user.py MODULE_FILE
"""
import os
import shutil
import site
import sys


def main(module_file):
    if not site.ENABLE_USER_SITE:
        sys.exit(f"{sys.executable} has no user site-packages (disabled): "
                 f"set PYTHONPATH={os.path.dirname(os.path.abspath(module_file))} instead.")
    target = site.getusersitepackages()
    os.makedirs(target, exist_ok=True)
    destination = os.path.join(target, os.path.basename(module_file))
    shutil.copy2(module_file, destination)
    print(f"Installed {destination}: 'import quorlib' now works in {sys.executable} for this user.")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])

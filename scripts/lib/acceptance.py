"""Helpers of scripts/mac-acceptance that are easier in Python than in bash.

Usage: python3 acceptance.py COMMAND ARGS...
  extension-id KEY                 the extension ID that a manifest "key" gives
  prepare-extension SRC DEST KEY   copies the sample extension (links followed) and sets its key
  loaded-id PROFILE FOLDER         the ID under which the browser loaded FOLDER, or nothing
  check-log LOG                    the host's steps in a browser's standard error: PASS/FAIL lines
  find-clip DROPPED CACHE          the cached clip whose bytes the dropped file has, or nothing
"""

import base64
import hashlib
import json
import os
import shutil
import sys

HOST_PREFIX = 'quenra-native-host: '
# The host's notes, in the order of one drag, and what each shows.
STEPS = [
    ('hello', 'the host started (HELLO)'),
    ('prepared', 'PREPARED'),
    ('armed', 'ARMED'),
    ('published', 'PUBLISHED'),
]


def extension_id(key):
    """Chromium's rule: SHA-256 of the key's bytes, its first 32 hex digits written a-p."""
    digest = hashlib.sha256(base64.b64decode(key, validate=True)).hexdigest()
    return ''.join(chr(ord('a') + int(digit, 16)) for digit in digest[:32])


def prepare_extension(source, destination, key):
    shutil.copytree(source, destination, symlinks=False)
    manifest_file = os.path.join(destination, 'manifest.json')
    with open(manifest_file, encoding='utf-8') as file:
        manifest = json.load(file)
    manifest['key'] = key
    with open(manifest_file, 'w', encoding='utf-8') as file:
        json.dump(manifest, file, indent=2)
        file.write('\n')


def loaded_id(profile, folder):
    """Reads the profile's preference files, where the browser records each unpacked extension."""
    wanted = os.path.realpath(folder)
    for name in ('Secure Preferences', 'Preferences'):
        try:
            with open(os.path.join(profile, 'Default', name), encoding='utf-8') as file:
                settings = json.load(file).get('extensions', {}).get('settings', {})
        except (OSError, ValueError):
            continue
        for identifier, entry in settings.items():
            path = entry.get('path') if isinstance(entry, dict) else None
            if path and os.path.realpath(path) == wanted:
                return identifier
    return ''


def check_log(log_file):
    with open(log_file, encoding='utf-8', errors='replace') as file:
        notes = [line[len(HOST_PREFIX):].strip() for line in file if line.startswith(HOST_PREFIX)]
    failed = 0
    for tag, what in STEPS:
        count = notes.count(tag)
        print(f'{"PASS" if count else "FAIL"} {what}: {count} "{tag}" note(s)')
        failed += count == 0
    others = sorted({note for note in notes if note not in {tag for tag, _ in STEPS}})
    if others:
        print('NOTE the host also noted: ' + ', '.join(others))
    return 1 if failed else 0


def find_clip(dropped, cache):
    with open(dropped, 'rb') as file:
        wanted = file.read()
    same_name = []
    others = []
    for folder, _, files in os.walk(cache):
        for name in files:
            if name.endswith('.mid'):
                path = os.path.join(folder, name)
                same = name == os.path.basename(dropped)
                (same_name if same else others).append(path)
    for path in sorted(same_name, key=os.path.getmtime, reverse=True) + others:
        with open(path, 'rb') as file:
            if file.read() == wanted:
                print(path)
                return 0
    if same_name:
        print(f'the cached clips named {os.path.basename(dropped)} have other bytes', file=sys.stderr)
    else:
        print(f'no cached clip has its bytes, and none is named {os.path.basename(dropped)} '
              '(did the Finder move the file out of the cache instead of copying it?)', file=sys.stderr)
    return 1


def main(argv):
    commands = {
        'extension-id': (1, lambda key: print(extension_id(key)) or 0),
        'prepare-extension': (3, lambda *args: prepare_extension(*args) or 0),
        'loaded-id': (2, lambda *args: print(loaded_id(*args)) or 0),
        'check-log': (1, check_log),
        'find-clip': (2, find_clip),
    }
    if len(argv) < 1 or argv[0] not in commands or len(argv) - 1 != commands[argv[0]][0]:
        print(__doc__, file=sys.stderr)
        return 2
    return commands[argv[0]][1](*argv[1:])


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))

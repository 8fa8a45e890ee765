# SPDX-License-Identifier: MIT
"""Rewrites a zip archive so that its bytes depend on the files it holds and nothing else:
entries sorted by name, every entry dated SOURCE_DATE_EPOCH, no extra fields (libarchive,
which packs CPack's zip, stores each file's access and change times there).

usage: python3 reproducible_zip.py ARCHIVE.zip EPOCH"""
import os
import sys
import time
import zipfile

ZIP_EPOCH = 315532800   # 1980-01-01, the earliest time a zip entry can hold


def main():
    path, epoch = sys.argv[1], int(sys.argv[2])
    stamp = time.gmtime(max(epoch, ZIP_EPOCH))[:6]
    with zipfile.ZipFile(path) as source:
        entries = [(info, source.read(info)) for info in source.infolist()]
    entries.sort(key=lambda entry: entry[0].filename)
    temporary = path + ".tmp"
    with zipfile.ZipFile(temporary, "w") as target:
        for info, data in entries:
            entry = zipfile.ZipInfo(info.filename, stamp)
            entry.create_system = 3                 # Unix permissions in external_attr
            entry.external_attr = info.external_attr
            entry.compress_type = zipfile.ZIP_STORED if info.is_dir() else zipfile.ZIP_DEFLATED
            target.writestr(entry, data, compresslevel=9)
    os.replace(temporary, path)
    return 0


if __name__ == "__main__":
    sys.exit(main())

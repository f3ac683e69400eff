"""Writes a zip of a folder with its members in sorted order, every member
stamped with the same time and the same owner-free attributes, so that the
same files always give the same bytes.

    sorted_zip.py OUT.zip STAGE TOP EPOCH

puts STAGE/TOP and everything below it into OUT.zip under the name TOP/...,
each file with the time EPOCH (seconds since 1970, UTC) and mode 644 (755 for
an executable file).
"""

import os
import sys
import time
import zipfile


def members(stage, top):
    found = []
    for folder, dirs, files in os.walk(os.path.join(stage, top)):
        dirs.sort()
        for name in files:
            path = os.path.join(folder, name)
            found.append(os.path.relpath(path, stage).replace(os.sep, "/"))
    return sorted(found)


def write_zip(out, stage, top, epoch):
    stamp = time.gmtime(max(epoch, 315532800))[:6]  # a zip's clock starts in 1980
    with zipfile.ZipFile(out + ".tmp", "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
        for name in members(stage, top):
            path = os.path.join(stage, name)
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3  # the attributes are Unix modes
            mode = 0o755 if os.access(path, os.X_OK) else 0o644
            info.external_attr = (0o100000 | mode) << 16
            with open(path, "rb") as f:
                archive.writestr(info, f.read(), compresslevel=9)
    os.replace(out + ".tmp", out)


def main(argv):
    if len(argv) != 5:
        print("usage: sorted_zip.py OUT.zip STAGE TOP EPOCH", file=sys.stderr)
        return 2
    out, stage, top, epoch = argv[1], argv[2], argv[3], int(argv[4])
    if not os.path.isdir(os.path.join(stage, top)):
        print(f"sorted_zip.py: no folder '{os.path.join(stage, top)}'", file=sys.stderr)
        return 1
    write_zip(out, stage, top, epoch)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

#!/usr/bin/env python3
"""Checks the built stub as a file, with no Windows loader: 32-bit GUI program,
large-address-aware, 6.0 as the oldest operating-system and subsystem version, system DLLs only, at
most 256 KiB, the refusal texts (string IDs 104 and 105) in all 23 languages and
an "asInvoker" manifest. Runs on any host, so the i686 product is checked even
where Wine cannot start it.

usage: check_pe_header.py STUB.exe
Prints one line per check ("ok NAME" or "FAIL NAME: why"); exit 1 on a failure.
"""
import os
import struct
import sys

MAX_SIZE = 256 * 1024
IMAGE_FILE_MACHINE_I386 = 0x14C
IMAGE_FILE_LARGE_ADDRESS_AWARE = 0x20
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
RT_STRING, RT_MANIFEST = 6, 24
REFUSAL_IDS = (104, 105)
LANGUAGES = 23
# What the stub may import: Windows' own libraries, the C runtime among them.
SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'advapi32.dll', 'shell32.dll',
               'shlwapi.dll', 'msvcrt.dll'}


class PeFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b'MZ':
            raise ValueError('no MZ header')
        pe = struct.unpack_from('<I', data, 0x3C)[0]
        if data[pe:pe + 4] != b'PE\0\0':
            raise ValueError('no PE signature')
        (self.machine, sections, _, _, _, optional_size,
         self.characteristics) = struct.unpack_from('<HHIIIHH', data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from('<H', data, opt)[0]
        if self.magic != 0x10B:
            raise ValueError('not a PE32 optional header')
        (self.os_major, self.os_minor, _, _, self.subsystem_major,
         self.subsystem_minor) = struct.unpack_from('<6H', data, opt + 40)
        self.subsystem = struct.unpack_from('<H', data, opt + 68)[0]
        directories = struct.unpack_from('<I', data, opt + 92)[0]
        self.directories = [struct.unpack_from('<II', data, opt + 96 + 8 * i)
                            for i in range(directories)]
        table = opt + optional_size
        self.sections = []
        for i in range(sections):
            _, vsize, vaddr, rawsize, rawptr = struct.unpack_from('<8sIIII', data, table + 40 * i)
            self.sections.append((vaddr, max(vsize, rawsize), rawptr))

    def offset(self, rva):
        for vaddr, size, rawptr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rawptr + rva - vaddr
        raise ValueError('RVA %#x lies in no section' % rva)

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b'\0', start)].decode('ascii')

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def imported_dlls(self):
        """Names from the import table and the delay-import table."""
        names = []
        rva, _ = self.directory(1)
        if rva:
            at = self.offset(rva)
            while True:
                descriptor = struct.unpack_from('<5I', self.data, at)
                if descriptor == (0, 0, 0, 0, 0):
                    break
                names.append(self.text(descriptor[3]))
                at += 20
        rva, _ = self.directory(13)
        if rva:
            at = self.offset(rva)
            while True:
                descriptor = struct.unpack_from('<8I', self.data, at)
                if descriptor == (0,) * 8:
                    break
                names.append(self.text(descriptor[1]))
                at += 32
        return names


    # Resources ---------------------------------------------------------------

    def _resource_entries(self, base, at):
        """(id, offset of the child or data entry, is a directory) of one
        resource directory table."""
        named, ids = struct.unpack_from('<HH', self.data, at + 12)
        entries = []
        for i in range(named + ids):
            name, child = struct.unpack_from('<II', self.data, at + 16 + 8 * i)
            entries.append((name, base + (child & 0x7FFFFFFF), bool(child & 0x80000000)))
        return entries

    def resources(self, kind, ident):
        """{language: bytes} of resource `kind`/`ident`."""
        rva, _ = self.directory(2)
        if not rva:
            return {}
        base = self.offset(rva)
        found = {}
        for type_id, types, _ in self._resource_entries(base, base):
            if type_id != kind:
                continue
            for name_id, names, _ in self._resource_entries(base, types):
                if name_id != ident:
                    continue
                for language, entry, is_dir in self._resource_entries(base, names):
                    if is_dir:
                        continue
                    data_rva, size = struct.unpack_from('<II', self.data, entry)
                    start = self.offset(data_rva)
                    found[language] = self.data[start:start + size]
        return found


def string_table_entries(block):
    """The 16 strings of a string-table block (counted UTF-16)."""
    strings, at = [], 0
    for _ in range(16):
        count = struct.unpack_from('<H', block, at)[0]
        strings.append(block[at + 2:at + 2 + 2 * count].decode('utf-16-le'))
        at += 2 + 2 * count
    return strings


def refusal_languages(pe):
    """Languages whose string block holds non-empty texts for both IDs."""
    block_id = REFUSAL_IDS[0] // 16 + 1
    good = []
    for language, block in pe.resources(RT_STRING, block_id).items():
        strings = string_table_entries(block)
        if all(strings[i % 16] for i in REFUSAL_IDS):
            good.append(language)
    return good


def checks(path):
    data = open(path, 'rb').read()
    pe = PeFile(data)
    foreign = sorted(n for n in pe.imported_dlls() if n.lower() not in SYSTEM_DLLS)
    languages = refusal_languages(pe)
    manifests = pe.resources(RT_MANIFEST, 1)
    return [
        ('machine', pe.machine == IMAGE_FILE_MACHINE_I386, 'machine %#x' % pe.machine),
        ('executable', pe.characteristics & 0x2 and not pe.characteristics & 0x2000,
         'characteristics %#x' % pe.characteristics),
        ('large-address-aware', pe.characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE,
         'characteristics %#x' % pe.characteristics),
        ('subsystem', pe.subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI, 'subsystem %d' % pe.subsystem),
        ('os-version', (pe.os_major, pe.os_minor) == (6, 0),
         'operating-system version %d.%d' % (pe.os_major, pe.os_minor)),
        ('subsystem-version', (pe.subsystem_major, pe.subsystem_minor) == (6, 0),
         'subsystem version %d.%d' % (pe.subsystem_major, pe.subsystem_minor)),
        ('imports', not foreign, 'imports non-system DLLs: ' + ', '.join(foreign)),
        ('size', len(data) <= MAX_SIZE, '%d bytes, more than %d' % (len(data), MAX_SIZE)),
        ('refusal-texts', len(languages) == LANGUAGES,
         'IDs 104 and 105 in %d languages, not %d' % (len(languages), LANGUAGES)),
        ('manifest', any(b'level="asInvoker"' in m for m in manifests.values()),
         'no manifest 1 that asks for asInvoker'),
    ]


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    try:
        results = checks(argv[1])
    except (OSError, ValueError, struct.error) as error:
        print('FAIL read: %s' % error)
        return 1
    failed = 0
    for name, passed, why in results:
        if passed:
            print('ok %s' % name)
        else:
            print('FAIL %s: %s' % (name, why))
            failed += 1
    print('%s: %d of %d checks failed' % (os.path.basename(argv[1]), failed, len(results)))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))

#!/usr/bin/env python3
"""Writes the fuzz targets' seeds into OUT/<target>/: the hand-made ones of fuzz/corpus and the
binary ones built here. With --hostile, writes instead OUT/<target>/ inputs that are known to
have hurt the program (deep nesting, slow XPath); each is run once before fuzzing starts."""
import base64
import hashlib
import lzma
import os
import shutil
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def put(out, target, name, data):
    folder = os.path.join(out, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def qstring(text):  # QDataStream: quint32 byte length, UTF-16BE
    raw = text.encode('utf-16-be')
    return struct.pack('>I', len(raw)) + raw


def qbytes(data):
    return struct.pack('>I', len(data)) + data


def pfd(xml):
    return struct.pack('>I', 0x0A0B0C0D) + qbytes(base64.b64encode(xml.encode()))


def device_table(records):
    table = bytearray(42102)
    table[0:2] = struct.pack('<H', len(records))
    for i, (device_id, version, sn, mask, path, hardware_id) in enumerate(records):
        r = 2 + i * 2105
        for offset, size, value in ((0, 40, device_id.encode()), (40, 17, version.encode()), (57, 14, sn.encode()),
                                    (71, 2, mask.encode()), (1085, 510, path.encode('utf-16-le')),
                                    (1595, 510, hardware_id.encode('utf-16-le'))):
            table[r + offset:r + offset + len(value[:size])] = value[:size]
    return bytes(table)


def update_content(version, files):
    content = qstring(version) + struct.pack('>I', len(files))
    for name, data in files:
        content += qstring(name) + struct.pack('>I', len(data)) + qbytes(data)
    return content


def lzma_frame(content):  # properties, size, raw LZMA1 stream: a package from byte 148 on
    filters = [{'id': lzma.FILTER_LZMA1, 'dict_size': 1 << 16}]
    stream = lzma.compress(content, format=lzma.FORMAT_RAW, filters=filters)
    properties = bytes([(2 * 5 + 0) * 9 + 3]) + struct.pack('<I', 1 << 16)  # pb=2, lp=0, lc=3
    return properties + struct.pack('<i', len(content)) + stream


def firmware(length):
    image = bytearray(67170)
    image[0:4] = struct.pack('<I', 0x1016)
    payload = bytes((i * 7) & 0xff for i in range(length))
    image[264:264 + length] = payload
    image[66113:66121] = struct.pack('<Q', length)
    image[66121:66125] = struct.pack('<I', sum(payload) & 0xffffffff)
    return bytes(image)


def seeds(out):
    for target in os.listdir(os.path.join(HERE, 'corpus')):
        shutil.copytree(os.path.join(HERE, 'corpus', target), os.path.join(out, target), dirs_exist_ok=True)
    put(out, 'fuzz_profile_package', 'keys', pfd('<profile><keys><key id="5" code="0x01" /></keys></profile>'))
    put(out, 'fuzz_profile_package', 'empty', struct.pack('>II', 0x0A0B0C0D, 0xFFFFFFFF))
    put(out, 'fuzz_device_table', 'two', device_table([
        ('0', '1.2', 'SN1', '1', r'\\?\hid#vid_1&pid_2', 'HID\\VID_2DC8&PID_3106'),
        ('1', '0.9', 'SN2', '0', '/dev/pad1', 'USB\\VID_2DC8&PID_3208')]))
    put(out, 'fuzz_device_table', 'empty', device_table([]))
    content = update_content('1.0.2', [('package/view/index.html', b'<html></html>'), ('package/conf.xml', b'<c/>')])
    put(out, 'fuzz_update_package', 'content', b'\x02' + content)
    put(out, 'fuzz_update_package', 'framed', b'\x01' + lzma_frame(content))
    frame = lzma_frame(content)
    put(out, 'fuzz_update_package', 'whole', b'\x00' + bytes(128) + hashlib.sha1(frame).digest() + frame)
    put(out, 'fuzz_update_package', 'name', b'\x03package/view/js/app.js')
    put(out, 'fuzz_firmware_image', 'blocks', firmware(4500))
    put(out, 'fuzz_firmware_image', 'whole-blocks', firmware(4000))


def hostile(out):
    deep = 47000
    put(out, 'fuzz_profile_commands', 'deep-subtree',
        'modifyProfileEx\t/profile/macros\t' + '<a>' * deep + '</a>' * deep + '\nqueryProfile\t/profile\n')
    put(out, 'fuzz_profile_commands', 'deep-xpath',
        'modifyProfileEx\t/profile/macros\t' + '<a>' * 20000 + '</a>' * 20000 + '\nnodeCounterProfile\t//a//a//a\n')
    # Shallow and wide: a nesting limit alone does not bound this expression's work.
    put(out, 'fuzz_profile_commands', 'wide-xpath',
        'modifyProfileEx\t/profile/macros\t' + '<a/>' * 3000 + '\nnodeCounterProfile\t//*[count(//*[count(//*) > 0]) > 0]\n')
    # Only child and parent steps, each nested in the other's predicate: minutes on 300 siblings.
    put(out, 'fuzz_profile_commands', 'nested-predicates',
        'modifyProfileEx\t/profile/macros\t' + '<a/>' * 300
        + "\nqueryProfile\t//*[*[parent::*[*[parent::*[*[parent::*[*[name()='q']]]]]]]]\nqueryProfile\t/profile\n")
    put(out, 'fuzz_profile_commands', 'bad-names',
        'modifyAddProfile\t/profile/keys\tx"y\t1\tbad name\n')
    put(out, 'fuzz_profile_package', 'deep-package',
        pfd('<profile><keys>' + '<a>' * 200000 + '</a>' * 200000 + '</keys></profile>'))


def main():
    args = sys.argv[1:]
    if len(args) == 2 and args[0] == '--hostile':
        hostile(args[1])
    elif len(args) == 1:
        seeds(args[0])
    else:
        sys.exit('usage: make_seeds.py [--hostile] OUT')


main()

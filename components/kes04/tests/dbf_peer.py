#!/usr/bin/python3
"""Independent DBF/FPT peers for the engine's interoperation tests.

  dbf_peer.py dbfread TABLE   read TABLE with python3-dbfread
  dbf_peer.py dbf TABLE       read TABLE with python3-dbf
  dbf_peer.py write TABLE N   write a FoxPro table of N records with python3-dbf
  dbf_peer.py write-db3 TABLE N   a dBASE III table with a .DBT memo file
  dbf_peer.py write-vfp TABLE N   the same as a Visual FoxPro table with I B Y T fields

Every command prints one JSON object per record, in file order:
{"_deleted": bool, FIELD: value, ...} where a value is text exactly as the
engine's text conversion gives it: C right-trimmed, N/F as the stored digits
trimmed, D "YYYYMMDD" or "", L "T"/"F", memos whole. Text passes as Latin-1
code points of the stored bytes, so every byte is compared.
"""
import datetime
import json
import sys

CODEPAGE = 'cp1252'


def as_bytes_text(value):
    """Text decoded as cp1252 by a reader, given back as Latin-1 code points."""
    return value.encode(CODEPAGE).decode('latin-1')


def number_text(value, decimals):
    if value is None:
        return ''
    return ('%.*f' % (decimals, value)) if decimals else str(int(value))


def text_of(kind, decimals, value):
    if kind == 'C':
        return as_bytes_text(value.rstrip(' ')) if value is not None else ''
    if kind in 'NF':
        return number_text(value, decimals)
    if kind == 'D':
        return value.strftime('%Y%m%d') if value else ''
    if kind == 'L':
        return 'T' if value else 'F'
    if kind == 'M':
        return as_bytes_text(value) if value else ''
    return str(value)


def read_dbfread(path):
    import dbfread
    table = dbfread.DBF(path, encoding=CODEPAGE, char_decode_errors='strict', load=True)
    kinds = {f.name: (f.type, f.decimal_count) for f in table.fields}
    # dbfread keeps live and deleted records apart; the caller knows the order.
    for deleted, records in ((False, table.records), (True, table.deleted)):
        for record in records:
            row = {'_deleted': deleted}
            for name, value in record.items():
                kind, decimals = kinds[name]
                row[name] = text_of(kind, decimals, value)
            print(json.dumps(row))


def read_dbf(path):
    import dbf
    table = dbf.Table(path, codepage=CODEPAGE)
    table.open(dbf.READ_ONLY)
    names = table.field_names
    for record in table:
        row = {'_deleted': dbf.is_deleted(record)}
        for name in names:
            info = table.field_info(name)
            kind = chr(info.field_type) if isinstance(info.field_type, int) else str(info.field_type)
            row[name.upper()] = text_of(kind[0], info.decimal, record[name])
        print(json.dumps(row))
    table.close()


def write_table(path, count):
    import dbf
    table = dbf.Table(path, 'NAME C(20); AMOUNT N(10,2); RATIO F(12,4); BORN D; OK L; NOTES M',
                      dbf_type='fp', codepage=CODEPAGE)
    table.open(dbf.READ_WRITE)
    for i in range(count):
        blank = i % 7 == 3
        name = '' if blank else 'Name %d caf\xe9 \xfc' % i
        amount = None if blank else (i * 37 % 100000) / 100.0 - 50
        ratio = None if blank else i / 8.0
        born = None if blank else datetime.date(1950 + i % 70, 1 + i % 12, 1 + i % 28)
        ok = None if blank else i % 2 == 0
        notes = '' if blank else ('memo %d ' % i) + ('\xe0bc' * (i % 50)) + ('x' * (3000 if i % 10 == 0 else 0))
        table.append((name, amount, ratio, born, ok, notes))
        if i % 5 == 1:
            dbf.delete(table[-1])
        row = {'_deleted': i % 5 == 1, 'NAME': name,
               'AMOUNT': number_text(amount, 2), 'RATIO': number_text(ratio, 4),
               'BORN': born.strftime('%Y%m%d') if born else '',
               'OK': 'T' if ok else 'F', 'NOTES': notes}
        print(json.dumps(row))
    table.close()


def shortest(value):
    """The shortest text that reads back as the same double, as the engine writes it."""
    text = repr(value)
    return text[:-2] if text.endswith('.0') else text


def write_vfp(path, count):
    """A Visual FoxPro table with the binary types; expected texts as the engine gives them."""
    import decimal
    import dbf
    table = dbf.Table(path, 'ID I; RATE B; PRICE Y; STAMP T; NOTES M; NAME C(10)',
                      dbf_type='vfp', codepage=CODEPAGE)
    table.open(dbf.READ_WRITE)
    for i in range(count):
        rate = i / 4.0 - 3
        price = decimal.Decimal(i * 12345 - 500000) / 10000
        stamp = datetime.datetime(2000 + i % 30, 1 + i % 12, 1 + i % 28, i % 24, i % 60, (i * 7) % 60)
        notes = ('vfp memo %d ' % i) * (i % 5)
        table.append((i - 50, rate, price, stamp, notes, 'n%d' % i))
        print(json.dumps({'_deleted': False, 'ID': str(i - 50), 'RATE': shortest(rate),
                          'PRICE': '%.4f' % price, 'STAMP': stamp.strftime('%Y%m%d%H%M%S'),
                          'NOTES': notes, 'NAME': 'n%d' % i}))
    table.close()


def write_db3(path, count):
    """A dBASE III table with a .DBT memo file."""
    import dbf
    table = dbf.Table(path, 'NAME C(10); NOTES M', dbf_type='db3', codepage=CODEPAGE)
    table.open(dbf.READ_WRITE)
    for i in range(count):
        notes = ('dbt memo %d ' % i) * (i % 60)
        table.append(('d%d' % i, notes))
        print(json.dumps({'_deleted': False, 'NAME': 'd%d' % i, 'NOTES': notes}))
    table.close()


def main():
    command, path = sys.argv[1], sys.argv[2]
    if command == 'dbfread':
        read_dbfread(path)
    elif command == 'dbf':
        read_dbf(path)
    elif command == 'write':
        write_table(path, int(sys.argv[3]))
    elif command == 'write-db3':
        write_db3(path, int(sys.argv[3]))
    elif command == 'write-vfp':
        write_vfp(path, int(sys.argv[3]))
    else:
        sys.exit('unknown command ' + command)


if __name__ == '__main__':
    main()

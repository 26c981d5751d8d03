#!/usr/bin/python3
"""Decodes SMS-SUBMIT PDUs with Debian's python3-gammu (a decoder independent of the gateway
and of the simulator), for the tests of the PDU-mode submission.

  gammu_decode.py < PDUS
      PDUS: one PDU line a line, hex, service centre address first (as at+cmgs takes it).
      Prints one line a PDU: number, coding, class, validity, UDH reference, part, parts and
      the text's UTF-8 bytes in hex, separated by tabs. Exit code 1 when gammu refuses one.
"""
import binascii
import sys

import gammu

for line in sys.stdin:
    line = line.strip()
    if not line:
        continue
    try:
        sms = gammu.DecodePDU(binascii.unhexlify(line), True)
    except gammu.GSMError as e:
        print("refused", line, e, file=sys.stderr)
        sys.exit(1)
    # python3-gammu gives as many characters as the text has septets, so a text with
    # extension-table characters (two septets each) is followed by its terminating NUL and
    # whatever lay behind; no SMS text holds a NUL ('@' reads as U+0040).
    text = sms["Text"].split("\0", 1)[0]
    udh = sms["UDH"]
    print("\t".join([sms["Number"], sms["Coding"], str(sms["Class"]), sms["SMSC"]["Validity"],
                     str(udh["ID8bit"]), str(udh["PartNumber"]), str(udh["AllParts"]),
                     text.encode("utf-8").hex()]))

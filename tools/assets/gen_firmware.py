#!/usr/bin/env python3
"""Writes the two firmware images that the updater carries, resources/fmw/{s,l}/image.txt.

The images are synthetic MSP430X memory images in TI-TXT form, laid out like the output of
a C compiler for the flash unit's controller:

  @8000   lower flash: start-up code, interrupt handlers, low-level drivers, CRC table,
          initialisation data
  @ffc6   eight interrupt vectors
  @ffd8   the remaining twenty vectors (reset last), then on past 0xFFFF into upper
          flash: application code, constant tables, menu texts and erased (0xFF) padding

Every vector points at a handler in lower flash; calls between functions use the real
addresses of their targets. The section lengths are fixed by the catalogue's image sizes.

The output is deterministic: the pseudo-random choices come from a seeded splitmix64, not
from Python's random module (the code generator is msp430code.py beside this script). Standard
library only; run by hand from the repository root:

    python3 tools/assets/gen_firmware.py

and commit the two images together with these scripts.
"""

import json
import os
import sys
import zlib

from msp430code import RETI, SP, CodeGen, Function, Rng, fmt1, words_to_bytes

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


# --- Constant tables ---------------------------------------------------------------------

def crc16_table():
    out = bytearray()
    for i in range(256):
        crc = i << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else (crc << 1)
        out += (crc & 0xFFFF).to_bytes(2, "little")
    return out


def isin(x):
    """Sine of x/1024 turns scaled to +-32767."""
    import math
    return int(round(math.sin(2 * math.pi * x / 1024) * 32767))


def sine_table():
    return b"".join(isin(i).to_bytes(2, "little", signed=True) for i in range(256))


def power_table(full_us):
    """Flash durations for the manual power stops 1/1 down to 1/256 in thirds of a stop."""
    out = bytearray()
    for step in range(25):
        us = int(full_us * 2 ** (-step / 3.0))
        out += max(us, 12).to_bytes(2, "little")
    return out


def zoom_table(positions):
    out = bytearray()
    for focal, steps in positions:
        out += focal.to_bytes(2, "little") + steps.to_bytes(2, "little")
    return out


def gamma_table():
    return bytes(int(255 * (i / 255.0) ** 2.2 + 0.5) for i in range(256))


def temperature_table():
    """Thermistor ADC readings for -20..100 degrees C in steps of 5 (B = 3950, 10 k)."""
    import math
    out = bytearray()
    for t in range(-20, 105, 5):
        r = 10000 * math.exp(3950 * (1 / (t + 273.15) - 1 / 298.15))
        out += int(4095 * r / (r + 10000)).to_bytes(2, "little")
    return out


# --- Texts -------------------------------------------------------------------------------

# The menu labels of each language, in the order the display shows them.
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "menu-texts.json")) as _menu:
    MENU = json.load(_menu)


def text_block(model_names, version, build):
    """Null-terminated strings as the compiler lays them out, each label as its own symbol."""
    out = bytearray()
    symbols = []
    entries = []
    for name in model_names:
        entries.append("QUELLMARK " + name)
    entries.append("FW %s" % version)
    entries.append("BUILD %s" % build)
    entries += ["%d/%d" % (1, 2 ** i) for i in range(9)]
    entries += ["%+.1f EV" % (i / 3.0) for i in range(-9, 10)]
    entries += ["%d MM" % f for f in (14, 20, 24, 28, 35, 50, 70, 80, 105, 200)]
    entries += ["CH %d" % c for c in range(1, 33)]
    entries += ["%d HZ" % hz for hz in (1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 20, 50, 100, 199)]
    for lang in ("EN", "DE", "FR", "ES", "IT"):
        entries += MENU[lang]
    for i, text in enumerate(entries):
        symbols.append(("str%d" % i, len(out)))
        out += text.encode("ascii") + b"\0"
    return out, symbols


# --- Image layout ------------------------------------------------------------------------

SECTION1 = 0x8000
VECTORS_A = 0xFFC6
VECTORS_B = 0xFFD8
UPPER = 0x10000


class Image:
    def __init__(self, cfg):
        self.cfg = cfg
        self.rng = Rng(cfg["seed"])

    def build(self):
        cfg = self.cfg
        rng = self.rng
        ram_vars = sorted({0x1C00 + 2 * rng.below(cfg["ram_vars"] * 3)
                           for _ in range(cfg["ram_vars"])})
        consts = [rng.below(0x10000) for _ in range(cfg["consts"])] + \
                 [0x5A80, 0x5A08, 0x0210, 0x01F4, 0x03E8, 0x00FF, 0x0F00, 0x8000, 0x1000]
        gen = CodeGen(rng, ram_vars, consts)
        gen.make_idioms(cfg["idioms"], cfg["idiom_weight"])

        strings, string_syms = text_block(cfg["models"], cfg["version"], cfg["build"])
        symbols = {}

        # Lower flash: start-up, handlers and drivers, then the CRC table and the data image.
        lower_tables = [("crc16", crc16_table()),
                        ("temperature", temperature_table()),
                        ("gamma", gamma_table())]
        lower_fixed = sum(len(t) for _, t in lower_tables)
        lower_code_budget = cfg["lower_len"] - lower_fixed - cfg["cinit_min"]

        start = Function("_c_int00")
        start.emit(fmt1("mov", ("imm", 0x5C00), ("reg", SP)))
        start.emit(fmt1("mov", ("imm", 0x5A80), ("abs", 0x015C)))  # hold the watchdog
        start.mov_addr("cinit", 12)
        start.emit(fmt1("mov", ("imm", 0x1C00), ("reg", 13)))
        start.mov_addr("cinit_end", 14)
        start.label("copy")
        start.emit(fmt1("mov", ("inc", 12), ("idx", (13, 0))))
        start.emit(fmt1("add", ("imm", 2), ("reg", 13)))
        start.emit(fmt1("cmp", ("reg", 14), ("reg", 12)))
        start.jump("jnc", "copy")
        start.calla("main")
        start.label("halt")
        start.jump("jmp", "halt")

        lower = [start]
        isr_names = ["isr%d" % i for i in range(cfg["isrs"])]
        driver_names = ["drv%d" % i for i in range(cfg["drivers"])]
        app_names = []
        size = start.size()
        for name in isr_names:
            f = gen.function(name, driver_names[:8], [], 4 + rng.below(10), isr=True)
            lower.append(f)
            size += f.size()
        unexpected = Function("isr_unexpected")
        unexpected.emit(RETI)
        lower.append(unexpected)
        size += unexpected.size()
        for name in driver_names:
            f = gen.function(name, driver_names[:4], [], 3 + rng.below(14))
            if size + f.size() > lower_code_budget:
                break
            lower.append(f)
            size += f.size()
        driver_names = [f.name for f in lower if f.name.startswith("drv")]
        cinit_len = cfg["lower_len"] - size - lower_fixed
        assert cinit_len >= cfg["cinit_min"]

        # Upper flash: the application.
        upper_tables = [("sine", sine_table()),
                        ("power_manual", power_table(cfg["full_us"])),
                        ("power_ttl", power_table(cfg["full_us"] * 9 // 10)),
                        ("zoom", zoom_table(cfg["zoom"])),
                        ("strings", strings)]
        upper_len = cfg["upper_len"] - 40
        upper_fixed = sum(len(t) + (-len(t)) % 256 for _, t in upper_tables)
        upper_code_budget = upper_len - upper_fixed - cfg["erased"]
        upper = []
        size = 0
        index = 0
        string_names = [name for name, _ in string_syms]
        while True:
            name = "app%d" % index
            pool = driver_names + app_names[-40:]
            f = gen.function(name, pool, string_names, 4 + rng.below(cfg["body"]))
            if size + f.size() > upper_code_budget:
                break
            upper.append(f)
            app_names.append(name)
            size += f.size()
            index += 1
        main = gen.function("main", driver_names[:10] + app_names[:60], [], 30)
        while size + main.size() > upper_code_budget:
            size -= upper.pop().size()
            app_names.pop()
        upper.insert(0, main)

        # Addresses.
        address = SECTION1
        for f in lower:
            symbols[f.name] = address
            address += f.size()
        lower_table_addr = {}
        for name, table in lower_tables:
            lower_table_addr[name] = address
            address += len(table)
        symbols["cinit"] = address
        symbols["cinit_end"] = address + cinit_len
        assert address + cinit_len == SECTION1 + cfg["lower_len"]

        address = UPPER
        for f in upper:
            symbols[f.name] = address
            address += f.size()
        upper_layout = []
        for name, table in upper_tables:
            pad = (-address) % 256
            upper_layout.append(b"\xff" * pad)
            address += pad
            if name == "strings":
                for sym, offset in string_syms:
                    symbols[sym] = address + offset
            upper_layout.append(table)
            address += len(table)
        erased = UPPER + upper_len - address
        upper_layout.append(b"\xff" * erased)

        # Bytes.
        sec1 = bytearray()
        for f in lower:
            sec1 += f.resolve(symbols)
        for _, table in lower_tables:
            sec1 += table
        sec1 += self.cinit(cinit_len, ram_vars)
        assert len(sec1) == cfg["lower_len"]

        handlers = [symbols[n] for n in isr_names]
        fallback = symbols["isr_unexpected"]
        vectors = []
        for slot in range(28):
            vectors.append(handlers[slot % len(handlers)] if rng.chance(45) else fallback)
        vectors[-1] = symbols["_c_int00"]
        sec2 = words_to_bytes(vectors[:8])
        sec3 = words_to_bytes(vectors[8:])
        for f in upper:
            sec3 += f.resolve(symbols)
        for chunk in upper_layout:
            sec3 += chunk
        assert len(sec3) == cfg["upper_len"], (len(sec3), cfg["upper_len"])
        return [(SECTION1, bytes(sec1)), (VECTORS_A, bytes(sec2)), (VECTORS_B, bytes(sec3))]

    def cinit(self, length, ram_vars):
        """Initial values of the static variables: small numbers, flags and defaults."""
        rng = self.rng
        out = bytearray()
        while len(out) < length:
            r = rng.below(10)
            if r < 5:
                out += bytes((rng.below(16), 0))
            elif r < 7:
                out += bytes((0, 0))
            elif r < 9:
                out += rng.pick(ram_vars).to_bytes(2, "little")
            else:
                out += bytes((0xFF, 0xFF))
        return bytes(out[:length])


def ti_txt(sections):
    lines = []
    for address, data in sections:
        lines.append("@%04x" % address)
        for i in range(0, len(data), 16):
            lines.append("".join("%02X " % b for b in data[i:i + 16]))
    lines.append("q")
    return ("\r\n".join(lines) + "\r\n").encode("ascii")


IMAGES = {
    "s": dict(seed=0x5441_4C56_4F53_4909, version="49.09", build="2016-03-14",
              models=["TALVO 400 S", "TALVO 800 S", "TALVO 400", "TALVO 800"],
              lower_len=13658, upper_len=110996, isrs=9, drivers=80, ram_vars=120, consts=40,
              cinit_min=700, body=28, idioms=300, idiom_weight=35, erased=6800, full_us=4000,
              zoom=[(24, 0), (28, 140), (35, 310), (50, 560), (70, 790), (85, 930), (105, 1080)]),
    "l": dict(seed=0x5441_4C56_4F4C_5205, version="52.05", build="2018-09-27",
              models=["TALVO 400 L", "TALVO 800 L", "TALVO 400L", "TALVO 800L"],
              lower_len=12594, upper_len=113842, isrs=11, drivers=70, ram_vars=140, consts=48,
              cinit_min=640, body=30, idioms=340, idiom_weight=38, erased=6600, full_us=5200,
              zoom=[(20, 0), (24, 120), (28, 230), (35, 410), (50, 650), (70, 880),
                    (80, 960), (105, 1120), (200, 1500)]),
}


def main():
    for family, cfg in IMAGES.items():
        sections = Image(cfg).build()
        text = ti_txt(sections)
        path = os.path.join(ROOT, "resources", "fmw", family, "image.txt")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(text)
        stored = 4 + len(zlib.compress(text, 6))
        counts = " + ".join(str(len(d)) for _, d in sections)
        print("%s: %d bytes, data %s = %d, stored compressed in %d (saves %.1f %%)"
              % (path, len(text), counts, sum(len(d) for _, d in sections), stored,
                 100.0 * (1 - stored / len(text))), file=sys.stderr)


if __name__ == "__main__":
    main()

"""MSP430X code as a C compiler for a small controller lays it out: the seeded generator,
the instruction encodings, functions with their jump and call fix-ups, and the statements
that fill their bodies. Used by gen_firmware.py; standard library only."""


class Rng:
    """splitmix64: small, fast and identical on every Python version."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFFFFFFFFFF

    def next64(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & 0xFFFFFFFFFFFFFFFF
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & 0xFFFFFFFFFFFFFFFF
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & 0xFFFFFFFFFFFFFFFF
        return z ^ (z >> 31)

    def below(self, n):
        return self.next64() % n

    def chance(self, percent):
        return self.below(100) < percent

    def pick(self, items):
        return items[self.below(len(items))]

    def weighted(self, table):
        total = sum(w for w, _ in table)
        r = self.below(total)
        for w, item in table:
            if r < w:
                return item
            r -= w
        return table[-1][1]


# --- MSP430 encodings -------------------------------------------------------------------

PC, SP, SR, CG = 0, 1, 2, 3
OPS = {"mov": 0x4, "add": 0x5, "addc": 0x6, "subc": 0x7, "sub": 0x8, "cmp": 0x9,
       "dadd": 0xA, "bit": 0xB, "bic": 0xC, "bis": 0xD, "xor": 0xE, "and": 0xF}
JUMPS = {"jne": 0, "jeq": 1, "jnc": 2, "jc": 3, "jn": 4, "jge": 5, "jl": 6, "jmp": 7}

# Peripheral registers of an F5xx-class part that the drivers touch.
PERIPH_B = [0x0200, 0x0202, 0x0204, 0x0201, 0x0203, 0x0205, 0x0220, 0x0222, 0x0224,
            0x05DD, 0x05DC, 0x05C0, 0x05C1, 0x061D, 0x0102]
PERIPH_W = [0x0340, 0x0342, 0x0344, 0x0350, 0x0352, 0x0354, 0x0380, 0x0392, 0x0700,
            0x0702, 0x0720, 0x0722, 0x0724, 0x015C, 0x0160, 0x0162, 0x0164, 0x05CE, 0x05CC]


def src_operand(kind, value):
    """Returns (As, register, extension words) for a source operand."""
    if kind == "reg":
        return 0, value, []
    if kind == "imm":
        consts = {0: (0, CG), 1: (1, CG), 2: (2, CG), 0xFFFF: (3, CG), 4: (2, SR), 8: (3, SR)}
        if value in consts:
            a, r = consts[value]
            return a, r, []
        return 3, PC, [value & 0xFFFF]
    if kind == "abs":
        return 1, SR, [value & 0xFFFF]
    if kind == "idx":
        reg, off = value
        return 1, reg, [off & 0xFFFF]
    if kind == "ind":
        return 2, value, []
    if kind == "inc":
        return 3, value, []
    raise ValueError(kind)


def dst_operand(kind, value):
    """Returns (Ad, register, extension words) for a destination operand."""
    if kind == "reg":
        return 0, value, []
    if kind == "abs":
        return 1, SR, [value & 0xFFFF]
    if kind == "idx":
        reg, off = value
        return 1, reg, [off & 0xFFFF]
    raise ValueError(kind)


def fmt1(op, src, dst, byte=False):
    a_s, rs, ext_s = src_operand(*src)
    a_d, rd, ext_d = dst_operand(*dst)
    word = (OPS[op] << 12) | (rs << 8) | (a_d << 7) | (int(byte) << 6) | (a_s << 4) | rd
    return [word] + ext_s + ext_d


def fmt2(opc, src, byte=False):
    a_s, rs, ext = src_operand(*src)
    return [0x1000 | (opc << 7) | (int(byte) << 6) | (a_s << 4) | rs] + ext


def push(reg):
    return fmt2(4, ("reg", reg))


def pushm_a(count, top):
    return [0x1400 | ((count - 1) << 4) | top]


def popm_a(count, top):
    return [0x1600 | ((count - 1) << 4) | (top - count + 1)]


RET = [0x4130]
RETA = [0x0110]
RETI = [0x1300]
NOP = [0x4303]


def words_to_bytes(words):
    out = bytearray()
    for w in words:
        out += bytes((w & 0xFF, (w >> 8) & 0xFF))
    return out


class Function:
    """A function body as words, with jump and call fix-ups resolved when it is placed."""

    def __init__(self, name):
        self.name = name
        self.words = []
        self.labels = {}
        self.jumps = []   # (word index, condition, label)
        self.calls = []   # (word index, target function name)
        self.refs = []    # (word index, symbol name): 16-bit addresses of data

    def emit(self, words):
        self.words.extend(words)

    def label(self, name):
        self.labels[name] = len(self.words)

    def jump(self, cond, label):
        self.jumps.append((len(self.words), cond, label))
        self.words.append(0)

    def calla(self, target):
        self.calls.append((len(self.words), target))
        self.words.extend([0x13B0, 0])

    def mov_addr(self, symbol, reg):
        self.refs.append((len(self.words) + 1, symbol))
        self.words.extend([0x4030 | reg, 0])

    def size(self):
        return 2 * len(self.words)

    def resolve(self, symbols):
        for index, cond, label in self.jumps:
            offset = self.labels[label] - (index + 1)
            assert -512 <= offset < 512, (self.name, offset)
            self.words[index] = 0x2000 | (JUMPS[cond] << 10) | (offset & 0x3FF)
        for index, target in self.calls:
            address = symbols[target]
            self.words[index] = 0x13B0 | ((address >> 16) & 0xF)
            self.words[index + 1] = address & 0xFFFF
        for index, symbol in self.refs:
            self.words[index] = symbols[symbol] & 0xFFFF
        return words_to_bytes(self.words)


class CodeGen:
    """Produces function bodies in the style of compiled C for a small controller."""

    def __init__(self, rng, ram_vars, consts):
        self.rng = rng
        self.ram_vars = ram_vars
        self.consts = consts
        self.label_count = 0
        self.idioms = []
        self.idiom_weight = 0

    def make_idioms(self, count, weight):
        """Short instruction sequences that recur all over compiled code (register set-up
        before a call, read-modify-write of a flag, saving a result)."""
        while len(self.idioms) < count:
            scratch = Function("idiom")
            for _ in range(2 + self.rng.below(4)):
                self.statement(scratch, [], [], 3)
            if not scratch.jumps:  # an idiom is copied as plain words: no fix-ups
                self.idioms.append(scratch.words)
        self.idiom_weight = weight

    def new_label(self):
        self.label_count += 1
        return "L%d" % self.label_count

    def reg(self):
        return self.rng.pick([12, 13, 14, 15, 12, 13, 10, 11])

    def imm(self):
        r = self.rng.below(10)
        if r < 4:
            return self.rng.pick([0, 1, 2, 4, 8, 0xFFFF])
        if r < 8:
            return self.rng.pick(self.consts)
        return self.rng.below(0x100)

    def statement(self, f, callees, strings, depth):
        rng = self.rng
        if self.idioms and depth < 3 and rng.below(100) < self.idiom_weight:
            # Low indices recur most often, as in real code.
            f.emit(self.idioms[min(rng.below(len(self.idioms)), rng.below(len(self.idioms)))])
            return
        kind = rng.weighted([(14, "load"), (12, "store"), (10, "imm"), (10, "alu"),
                             (9, "if"), (8, "call"), (6, "port"), (5, "index"),
                             (4, "loop"), (3, "shift"), (3, "string")])
        if kind == "load":
            f.emit(fmt1("mov", ("abs", rng.pick(self.ram_vars)), ("reg", self.reg()),
                        byte=rng.chance(30)))
        elif kind == "store":
            f.emit(fmt1("mov", ("reg", self.reg()), ("abs", rng.pick(self.ram_vars)),
                        byte=rng.chance(30)))
        elif kind == "imm":
            f.emit(fmt1("mov", ("imm", self.imm()), ("reg", self.reg())))
        elif kind == "alu":
            op = rng.pick(["add", "sub", "and", "bis", "bic", "xor", "add", "addc"])
            src = ("reg", self.reg()) if rng.chance(50) else ("imm", self.imm())
            f.emit(fmt1(op, src, ("reg", self.reg())))
        elif kind == "if" and depth < 2:
            end = self.new_label()
            f.emit(fmt1("cmp", ("imm", self.imm()), ("reg", self.reg()), byte=rng.chance(25)))
            f.jump(rng.pick(["jne", "jeq", "jnc", "jc", "jl", "jge"]), end)
            for _ in range(1 + rng.below(4)):
                self.statement(f, callees, strings, depth + 1)
            f.label(end)
        elif kind == "call" and callees:
            for _ in range(rng.below(3)):
                f.emit(fmt1("mov", ("imm", self.imm()), ("reg", rng.pick([12, 13, 14]))))
            f.calla(rng.pick(callees))
        elif kind == "port":
            op = rng.pick(["bis", "bic", "bit", "mov"])
            if rng.chance(60):
                f.emit(fmt1(op, ("imm", rng.pick([1, 2, 4, 8, 0x10, 0x20, 0x40, 0x80])),
                            ("abs", rng.pick(PERIPH_B)), byte=True))
            else:
                f.emit(fmt1(op, ("imm", rng.pick(self.consts)), ("abs", rng.pick(PERIPH_W))))
            if op == "bit":
                f.jump(rng.pick(["jeq", "jne"]), "L_out")
        elif kind == "index":
            base = rng.pick([12, 13, 14, 15])
            if rng.chance(50):
                f.emit(fmt1("mov", ("idx", (base, 2 * rng.below(12))), ("reg", self.reg())))
            else:
                f.emit(fmt1("mov", ("inc", base), ("reg", self.reg()), byte=rng.chance(50)))
        elif kind == "loop" and depth < 2:
            top = self.new_label()
            counter = rng.pick([10, 11])
            f.emit(fmt1("mov", ("imm", rng.pick([4, 8, 16, 32, 10, 100, 240])), ("reg", counter)))
            f.label(top)
            for _ in range(1 + rng.below(3)):
                self.statement(f, callees, strings, depth + 1)
            f.emit(fmt1("sub", ("imm", 1), ("reg", counter)))
            f.jump("jne", top)
        elif kind == "shift":
            r = self.reg()
            f.emit(fmt2(rng.pick([0, 1, 2, 3]), ("reg", r)))
        elif kind == "string" and strings:
            f.mov_addr(rng.pick(strings), 12)
            if callees:
                f.calla(rng.pick(callees))
        else:
            f.emit(fmt1("mov", ("reg", self.reg()), ("reg", self.reg())))

    def function(self, name, callees, strings, statements, isr=False):
        rng = self.rng
        f = Function(name)
        saved = rng.below(4)
        if isr:
            f.emit(pushm_a(4, 15))
        elif saved:
            f.emit(pushm_a(saved, 10))
        for _ in range(statements):
            self.statement(f, callees, strings, 0)
        f.label("L_out")
        if isr:
            f.emit(fmt1("bic", ("imm", 0xF0), ("idx", (SP, 16))))  # leave low-power mode on return
            f.emit(popm_a(4, 15))
            f.emit(RETI)
        else:
            if saved:
                f.emit(popm_a(saved, 10))
            f.emit(RETA)
        return f

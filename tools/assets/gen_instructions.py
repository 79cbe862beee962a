#!/usr/bin/python3
"""Writes the driver instructions offered by the updater's driver-missing message,
resources/doc/Instructions Windows - Follow those steps.pdf (four A4 pages).

Needs Debian's python3-reportlab (and the step drawings from gen_pictures.py); neither the
build nor the tests need it, so it is not in tools/install-deps.sh. Invariant mode keeps the
output byte for byte the same from run to run. Run by hand from the repository root and commit
the output:

    /usr/bin/python3 tools/assets/gen_instructions.py
"""

import os

from reportlab import rl_config

rl_config.invariant = 1

from reportlab.lib import colors  # noqa: E402
from reportlab.lib.enums import TA_LEFT  # noqa: E402
from reportlab.lib.pagesizes import A4  # noqa: E402
from reportlab.lib.styles import ParagraphStyle  # noqa: E402
from reportlab.lib.units import mm  # noqa: E402
from reportlab.platypus import (Flowable, Image, KeepTogether, PageBreak, Paragraph,  # noqa: E402
                                SimpleDocTemplate, Spacer, Table, TableStyle)

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
OUT = os.path.join(ROOT, "resources", "doc", "Instructions Windows - Follow those steps.pdf")

BLUE = colors.HexColor("#3C6B7E")
LIGHT = colors.HexColor("#E8F1F5")
GREY = colors.HexColor("#5A6268")

TITLE = ParagraphStyle("title", fontName="Helvetica-Bold", fontSize=22, leading=27,
                       textColor=BLUE, spaceAfter=4 * mm)
H2 = ParagraphStyle("h2", fontName="Helvetica-Bold", fontSize=14, leading=18, textColor=BLUE,
                    spaceBefore=5 * mm, spaceAfter=2 * mm)
BODY = ParagraphStyle("body", fontName="Helvetica", fontSize=10.5, leading=14.5, alignment=TA_LEFT,
                      spaceAfter=2 * mm)
NOTE = ParagraphStyle("note", parent=BODY, fontName="Helvetica-Oblique", textColor=GREY)
STEP_NO = ParagraphStyle("stepno", fontName="Helvetica-Bold", fontSize=18, leading=20,
                         textColor=colors.white, alignment=1)
CODE = ParagraphStyle("code", fontName="Courier", fontSize=8.6, leading=11, backColor=LIGHT,
                      borderPadding=(2 * mm, 2 * mm, 2 * mm, 2 * mm), spaceBefore=2 * mm,
                      spaceAfter=4 * mm)


def step(number, title, text):
    """A numbered step: a blue square with the number beside the title and its explanation."""
    body = [Paragraph("<b>%s</b>" % title, BODY)] + [Paragraph(t, BODY) for t in text]
    table = Table([[Paragraph(str(number), STEP_NO), body]], colWidths=[12 * mm, 150 * mm])
    table.setStyle(TableStyle([
        ("BACKGROUND", (0, 0), (0, 0), BLUE),
        ("VALIGN", (0, 0), (-1, -1), "TOP"),
        ("TOPPADDING", (0, 0), (0, 0), 3 * mm),
        ("BOTTOMPADDING", (0, 0), (0, 0), 3 * mm),
        ("LEFTPADDING", (1, 0), (1, 0), 4 * mm),
    ]))
    return KeepTogether([table, Spacer(1, 3 * mm)])


def steps(first, entries):
    """Steps numbered from `first` on, each entry a title and its explanation."""
    return [step(first + i, title, [text]) for i, (title, text) in enumerate(entries)]


class DeviceManager(Flowable):
    """A sketch of the Device Manager tree with the unit's entry, before or after the driver."""

    def __init__(self, installed):
        super().__init__()
        self.installed = installed
        self.width, self.height = 120 * mm, 52 * mm

    def draw(self):
        c = self.canv
        w, h = self.width, self.height
        c.setStrokeColor(GREY)
        c.setFillColor(colors.white)
        c.rect(0, 0, w, h, fill=1)
        c.setFillColor(BLUE)
        c.rect(0, h - 7 * mm, w, 7 * mm, fill=1, stroke=0)
        c.setFillColor(colors.white)
        c.setFont("Helvetica-Bold", 9)
        c.drawString(3 * mm, h - 5 * mm, "Device Manager")
        rows = [(0, "DESKTOP-PC"), (1, "> Batteries"), (1, "> Computer"), (1, "> Disk drives"),
                (1, "> Keyboards")]
        if self.installed:
            rows += [(1, "v Ports (COM & LPT)"), (2, "USB Serial Device (COM5)")]
        else:
            rows += [(1, "v Other devices"), (2, "(!) Unknown USB serial device")]
        rows += [(1, "> Universal Serial Bus controllers")]
        y = h - 12 * mm
        for depth, text in rows:
            highlight = depth == 2
            if highlight:
                c.setFillColor(LIGHT)
                c.rect(2 * mm + depth * 6 * mm - 1 * mm, y - 1.5 * mm, 78 * mm, 5 * mm, fill=1, stroke=0)
            c.setFillColor(colors.black)
            c.setFont("Helvetica-Bold" if highlight else "Helvetica", 8.5)
            c.drawString(3 * mm + depth * 6 * mm, y, text)
            y -= 5 * mm


def header_footer(canvas, doc):
    canvas.saveState()
    w, h = A4
    canvas.setFillColor(BLUE)
    canvas.rect(0, h - 14 * mm, w, 14 * mm, fill=1, stroke=0)
    canvas.setFillColor(colors.white)
    canvas.setFont("Helvetica-Bold", 11)
    canvas.drawString(18 * mm, h - 9 * mm, "QUELLMARK  |  Talvo Update Center")
    canvas.setFont("Helvetica", 9)
    canvas.drawRightString(w - 18 * mm, h - 9 * mm, "USB driver installation")
    canvas.setFillColor(GREY)
    canvas.drawCentredString(w / 2, 10 * mm, "Page %d of 4" % doc.page)
    canvas.restoreState()


def story():
    s = []
    # Page 1: what this is about and what you need.
    s.append(Paragraph("Connecting your Talvo flash unit to a Windows PC", TITLE))
    s.append(Paragraph(
        "The Talvo Update Center talks to your flash unit through its USB port. Windows sees "
        "the unit as a serial port (a &quot;COM port&quot;) and needs the matching USB serial "
        "driver before the Update Center can find it. When the Update Center shows the message "
        "that the driver is missing, follow the steps in this guide. It takes about five "
        "minutes and you only need to do it once per computer.", BODY))
    s.append(Paragraph("What you need", H2))
    for item in [
            "A PC with Windows 7, 8.1, 10 or 11 and a free USB port.",
            "An account that may install drivers (an administrator account, or the "
            "administrator's password when Windows asks for it).",
            "The USB cable that came with the flash unit. Some charging cables carry no data: "
            "if the unit is not detected, try another cable.",
            "Fresh or fully charged batteries in the flash unit. An update must never be "
            "interrupted by flat batteries.",
            "The driver package (the files <font face='Courier'>mchpcdc.inf</font> and "
            "<font face='Courier'>mchpcdc.cat</font>) from the folder <font face='Courier'>"
            "driver</font> of the Update Center download."]:
        s.append(Paragraph("&bull; " + item, BODY))
    s.append(Paragraph("Before you start", H2))
    s.append(Paragraph(
        "Close the Talvo Update Center. Remove the flash unit from the camera and switch it "
        "off. Do not connect any other flash unit or serial adapter to the PC while you "
        "install the driver, so that you pick the right device in the steps below.", BODY))
    s.append(Spacer(1, 4 * mm))
    pics = Table([[Image(os.path.join(ROOT, "resources", "img", "step_1.jpg"), 45 * mm, 45 * mm),
                   Image(os.path.join(ROOT, "resources", "img", "step_2.jpg"), 45 * mm, 45 * mm)],
                  [Paragraph("Connect the unit to the PC with the USB cable.", NOTE),
                   Paragraph("Then switch the unit on.", NOTE)]],
                 colWidths=[70 * mm, 70 * mm])
    pics.setStyle(TableStyle([("BACKGROUND", (0, 0), (-1, 0), colors.black),
                              ("ALIGN", (0, 0), (-1, -1), "CENTER"),
                              ("VALIGN", (0, 0), (-1, -1), "MIDDLE")]))
    s.append(pics)
    s.append(PageBreak())

    # Page 2: connecting and opening Device Manager.
    s.append(Paragraph("Step by step", TITLE))
    s.extend(steps(1, [
        ("Connect the flash unit",
         "Plug the small end of the USB cable into the USB port on the side of the flash unit "
         "and the other end into a USB port of the PC. Use a port on the computer itself "
         "rather than a hub or a keyboard port."),
        ("Switch the unit on",
         "Switch the flash unit on with its main switch. Windows plays its &quot;device "
         "connected&quot; sound. Windows 10 and 11 often install the driver on their own at "
         "this point: wait about 30 seconds, then go on with step 3 to check."),
        ("Open Device Manager",
         "Press the Windows key and X together and choose <b>Device Manager</b> from the menu. "
         "On Windows 7, open the Start menu, type <font face='Courier'>devmgmt.msc</font> and "
         "press Enter."),
        ("Find the flash unit",
         "Look for the flash unit in the device tree. If the driver is missing, it is listed "
         "under <b>Other devices</b> with a yellow warning sign, as in the picture below. If "
         "you find it under <b>Ports (COM &amp; LPT)</b> instead, the driver is already "
         "installed: go on with step 8."),
    ]))
    s.append(DeviceManager(installed=False))
    s.append(Spacer(1, 3 * mm))
    s.append(Paragraph("Not sure which entry is the flash unit? Switch the unit off: its entry "
                       "disappears from the list, and appears again when you switch it on.", NOTE))
    s.append(PageBreak())

    # Page 3: installing the driver and checking it.
    s.append(Paragraph("Installing the driver", TITLE))
    s.extend(steps(5, [
        ("Start the driver update",
         "Right-click the entry with the warning sign and choose <b>Update driver</b> (on "
         "older Windows: <b>Update Driver Software...</b>)."),
        ("Point Windows to the driver",
         "Choose <b>Browse my computer for drivers</b>. Click <b>Browse...</b>, select the "
         "folder <font face='Courier'>driver</font> of the Update Center download, tick "
         "<b>Include subfolders</b> and click <b>Next</b>."),
        ("Confirm the installation",
         "If Windows asks whether you want to install this device software, click "
         "<b>Install</b>. When Windows reports that it has updated the driver, click "
         "<b>Close</b>."),
        ("Check the result",
         "The flash unit now appears under <b>Ports (COM &amp; LPT)</b> as <b>USB Serial "
         "Device</b> followed by a COM port number, for example COM5. The number differs from "
         "PC to PC; the Update Center finds the port by itself."),
    ]))
    s.append(DeviceManager(installed=True))
    s.append(Spacer(1, 3 * mm))
    s.extend(steps(9, [
        ("Check that it is really the flash unit",
         "Double-click the entry, open the <b>Details</b> tab and choose <b>Hardware Ids</b>. "
         "The first line reads <font face='Courier'>USB\\VID_04D8&amp;PID_00DF</font>. Close "
         "the window with <b>OK</b>."),
        ("Start the update",
         "Start the Talvo Update Center again and click <b>SCAN FOR DEVICES</b>. The Update "
         "Center now finds the flash unit and shows its model and firmware version."),
    ]))
    s.append(PageBreak())

    # Page 4: trouble-shooting and the note for Linux.
    s.append(Paragraph("If something does not work", TITLE))
    problems = [
        ("The unit does not appear in Device Manager at all.",
         "Check that the unit is switched on and its batteries are charged. Try another USB "
         "cable and another USB port. Click <b>Action</b> then <b>Scan for hardware "
         "changes</b> in Device Manager."),
        ("Windows says the driver is not suitable or not signed.",
         "Make sure you selected the folder that holds both files, <font face='Courier'>"
         "mchpcdc.inf</font> and <font face='Courier'>mchpcdc.cat</font>, and not a folder "
         "above it without <b>Include subfolders</b>."),
        ("The Update Center still reports that the driver is missing.",
         "Restart the PC once after installing the driver, then start the Update Center "
         "again."),
        ("The search finds no unit although the driver is installed.",
         "Close every other program that may use the COM port, such as terminal programs or "
         "other flash utilities, and switch the unit off and on again."),
    ]
    for question, answer in problems:
        s.append(Paragraph("<b>%s</b>" % question, BODY))
        s.append(Paragraph(answer, BODY))
    s.append(Paragraph("A note for Linux users", H2))
    s.append(Paragraph(
        "Linux needs no driver: the kernel's <font face='Courier'>cdc_acm</font> module "
        "presents the unit as <font face='Courier'>/dev/ttyACM0</font> (or a higher "
        "number). Your user needs read and write access to that device: either join the group "
        "<font face='Courier'>dialout</font> (<font face='Courier'>sudo usermod -aG dialout "
        "$USER</font>, then log out and in again), or add a udev rule. Save this line as "
        "<font face='Courier'>/etc/udev/rules.d/60-talvo.rules</font>:", BODY))
    s.append(Paragraph(
        'SUBSYSTEM=="tty", ATTRS{idVendor}=="04d8", ATTRS{idProduct}=="00df", '
        'TAG+="uaccess", ENV{ID_MM_DEVICE_IGNORE}="1"', CODE))
    s.append(Paragraph(
        "then run <font face='Courier'>sudo udevadm control --reload</font> and plug the unit "
        "in again. The second part of the rule keeps ModemManager from probing the port "
        "while the Update Center uses it.", BODY))
    return s


def main():
    os.makedirs(os.path.dirname(OUT), exist_ok=True)
    doc = SimpleDocTemplate(OUT, pagesize=A4, leftMargin=22 * mm, rightMargin=22 * mm,
                            topMargin=24 * mm, bottomMargin=20 * mm,
                            title="Instructions Windows - Follow those steps",
                            author="Quellmark", subject="USB driver installation for Talvo units",
                            creator="gen_instructions.py")
    doc.build(story(), onFirstPage=header_footer, onLaterPages=header_footer)


if __name__ == "__main__":
    main()

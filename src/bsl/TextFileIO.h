#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// Reader of TI-TXT memory images ("@ADDR" lines open a segment, data lines hold two-digit hex bytes
// separated by blanks, "q" ends the file), handing the image out as blocks of consecutive bytes with
// the target address of their first byte. Free functions over module-level state: one image is open
// at a time for the whole process, used from the device-worker thread only.

#define OPERATION_SUCCESSFUL 0
#define ERROR_OPENING_FILE (-2)

// Markers held in the reader's current address between calls.
#define NO_DATA_READ (static_cast<uint32_t>(-3)) // opened, first line not read yet
#define TXT_EOF (static_cast<uint32_t>(-1))      // the end of the image has been met

// The largest image file taken (the carried images are about 390 KB): anything larger is refused
// before it is read.
constexpr qint64 TI_TEXT_MAX_SIZE = 4 * 1024 * 1024;

// The verdict on a whole image, naming its first fault.
struct ImageCheck
{
    bool ok = false;
    int line = 0;               // the line at fault, from 1; 0 for the file as a whole
    QString lineText;           // that line without its line end, shortened and printable
    QString problem;            // what is wrong
    unsigned int dataBytes = 0; // the data bytes of an image that passed

    // "line 12 of PATH: what is wrong: "the line"", or "PATH: what is wrong" for the whole file.
    QString describe(const QString &path) const;
};

// Checks a whole image held in memory, every line: the first line an address line ("@" and 1 to 8
// hex digits, below the loader's 24-bit limit), data lines of 1 to 16 fields of two hex digits
// separated by single blanks (a blank at the end allowed), LF or CR LF line ends, a closing "q"
// (or "Q") line followed by blank lines only, at least one data byte, at most TI_TEXT_MAX_SIZE
// bytes. The reader hands out what passes byte for byte.
ImageCheck checkTI_Text(const QByteArray &content);

// The address of the reset vector: an image to install must hold both of its bytes.
constexpr quint32 RESET_VECTOR_ADDRESS = 0xFFFE;

// Checks an image that passed checkTI_Text for a unit's memory: every data byte inside
// [flashStart, flashEnd), none given twice (segments that overlap, or repeat), and both bytes of
// the reset vector present. The fault names the data line of the first byte out of place, or the
// file as a whole for a missing reset vector.
ImageCheck checkTI_TextLayout(const QByteArray &content, quint32 flashStart, quint32 flashEnd);

// Reads the image file whole (resource paths included) into `content` and checks it; a file that
// cannot be read, or is larger than TI_TEXT_MAX_SIZE, fails as a whole.
ImageCheck loadTI_Text(const QString &path, QByteArray &content);

// Opens an image held in memory (a copy of `content`) for reading, like openTI_TextForRead.
int openTI_TextInMemory(const QByteArray &content);

// Opens the image (any path QFile opens, resource paths included). OPERATION_SUCCESSFUL, or
// ERROR_OPENING_FILE when it cannot be opened or another image is open. An image that cannot be
// opened reads as an empty one: moreDataToRead() answers 0.
int openTI_TextForRead(const char *filename);

// Appends the next block of at least `bytesToRead` bytes (whole lines; less at the end of a segment)
// to `data` and returns the target address of its first byte. A block never spans two segments.
// Without an open image it returns TXT_EOF at once and appends nothing.
uint32_t readTI_TextFile(int bytesToRead, QByteArray &data);

// 1 until a read has met the end of the image, then 0.
int moreDataToRead();

// Closes the open image, if any.
void closeTI_Text();

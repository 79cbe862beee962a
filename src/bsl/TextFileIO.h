#pragma once

#include <QByteArray>

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

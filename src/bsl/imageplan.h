#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>

#include <cstdint>

// The order in which an image goes to the unit, and what of it got there. Blocks come in the
// image's order, except that the blocks holding the interrupt vectors, the reset vector among them,
// are held back until all others are written: a unit cut off before the end then has no reset
// vector and starts in its loader. Reads the image through the TI-TXT reader's one open image.
class ImagePlan
{
public:
    explicit ImagePlan(unsigned int blockSize) : _blockSize(blockSize) {}

    // Opens the image held in memory, nothing written yet.
    void begin(const QByteArray &image);
    // Closes the image, if one is open.
    void end();
    // Forgets what the last installation wrote.
    void clear();

    // The next block to send; false when nothing is left.
    bool nextBlock(uint32_t &address, QByteArray &block);
    // Blocks are left: in the image, or held back.
    bool moreToCome() const;

    // The loader confirmed this block.
    void recordWritten(uint32_t address, const QByteArray &block);
    // What the loader confirmed, as contiguous sections by address.
    const QMap<uint32_t, QByteArray> &written() const { return _written; }
    unsigned int bytesWritten() const;

private:
    unsigned int _blockSize;
    QMap<uint32_t, QByteArray> _written;
    QList<QPair<uint32_t, QByteArray>> _deferred;
};

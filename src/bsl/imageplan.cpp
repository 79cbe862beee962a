#include "imageplan.h"

#include "TextFileIO.h"

#include <iterator>

namespace {

// The interrupt vectors, the reset vector last: the unit starts its application only when the
// reset vector is not blank.
const uint32_t VECTORS_FIRST = 0xFFE0;
const uint32_t VECTORS_END = 0x10000;

bool holdsVectors(uint32_t address, const QByteArray &block)
{
    return !block.isEmpty() && address < VECTORS_END &&
           address + static_cast<uint32_t>(block.size()) > VECTORS_FIRST;
}

} // namespace

void ImagePlan::begin(const QByteArray &image)
{
    openTI_TextInMemory(image);
}

void ImagePlan::end()
{
    closeTI_Text();
}

void ImagePlan::clear()
{
    _written.clear();
    _deferred.clear();
}

bool ImagePlan::nextBlock(uint32_t &address, QByteArray &block)
{
    while (moreDataToRead()) {
        block.clear();
        address = readTI_TextFile(static_cast<int>(_blockSize), block);
        // Nothing to send when the image had no more data after all (missing or unusable image).
        if (block.isEmpty() && address == TXT_EOF)
            break;
        if (!holdsVectors(address, block))
            return true;
        // The loader writes a block in address order: bytes past the vectors go now, so that the
        // reset vector is the very last thing written.
        const int vectorsEnd = static_cast<int>(VECTORS_END - address);
        _deferred.append(qMakePair(address, block.left(vectorsEnd)));
        if (block.size() > vectorsEnd) {
            address = VECTORS_END;
            block = block.mid(vectorsEnd);
            return true;
        }
    }
    if (_deferred.isEmpty())
        return false;
    address = _deferred.first().first;
    block = _deferred.takeFirst().second;
    return true;
}

bool ImagePlan::moreToCome() const
{
    return moreDataToRead() || !_deferred.isEmpty();
}

void ImagePlan::recordWritten(uint32_t address, const QByteArray &block)
{
    if (block.isEmpty())
        return;
    // Blocks of one section follow each other: extend the section that ends where this one starts.
    // The vectors, written last, close the gap before the section that follows them.
    auto it = _written.upperBound(address);
    if (it != _written.begin() &&
        std::prev(it).key() + static_cast<uint32_t>(std::prev(it).value().size()) == address)
        std::prev(it).value().append(block);
    else
        it = std::next(_written.insert(address, block));
    const auto joined = std::prev(it);
    if (it != _written.end() && joined.key() + static_cast<uint32_t>(joined.value().size()) == it.key()) {
        joined.value().append(it.value());
        _written.erase(it);
    }
}

unsigned int ImagePlan::bytesWritten() const
{
    unsigned int bytes = 0;
    for (const QByteArray &section : _written)
        bytes += static_cast<unsigned int>(section.size());
    return bytes;
}

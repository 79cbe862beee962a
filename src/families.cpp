#include "families.h"

#include <QtGlobal>

#include <algorithm>

namespace {

// Both families' controllers (MSP430X, 20-bit addresses) keep their RAM below 0x5C00, where the
// carried images set the stack, and 256 KiB of flash from there on: the main flash, the interrupt
// vectors at 0xFF80-0xFFFF inside it. The loader's own memory lies outside.
constexpr quint32 FLASH_START = 0x5C00;
constexpr quint32 FLASH_END = FLASH_START + 256 * 1024; // 0x45C00

// One row per family: family, letter, model names, model numbers, image, its size, version, change
// log, picture, restore caption, restart note, battery tip, flash memory.
QList<Family> carriedFamilies()
{
    return {
        // The first units sent no model ("Talvo"); a unit named without a letter is an S.
        {TargetInfo::TARGET_TALVO_S,
         QStringLiteral("S"),
         QStringList{"Talvo", "Talvo 400", "Talvo 800", "Talvo 400S", "Talvo 800S", "Talvo 400 S",
                     "Talvo 800 S"},
         {{"400S", "400 S"}, {"800S", "800 S"}},
         QStringLiteral(":/fmw/s/image.txt"),
         124670,
         QStringLiteral("49.09"),
         QStringLiteral(":/fmw/s/changelog.txt"),
         QStringLiteral("/fmw/s/logo.jpg"),
         QT_TRANSLATE_NOOP("Families", "Talvo 400 S, 800 S"),
         QT_TRANSLATE_NOOP("Families", "Please unplug the USB cable\nand restart Talvo."),
         false,
         FLASH_START,
         FLASH_END},
        // The L unit keeps running on its battery: it restarts only without it.
        {TargetInfo::TARGET_TALVO_L,
         QStringLiteral("L"),
         QStringList{"Talvo 400L", "Talvo 800L", "Talvo 400 L", "Talvo 800 L"},
         {{"400L", "400 L"}, {"800L", "800 L"}},
         QStringLiteral(":/fmw/l/image.txt"),
         126452,
         QStringLiteral("52.05"),
         QStringLiteral(":/fmw/l/changelog.txt"),
         QStringLiteral("/fmw/l/logo.jpg"),
         QT_TRANSLATE_NOOP("Families", "Talvo 400 L, 800 L"),
         QT_TRANSLATE_NOOP("Families", "Please unplug the USB cable\nthen the battery and restart Talvo L."),
         true,
         FLASH_START,
         FLASH_END},
    };
}

template <typename Test> const Family *find(Test test)
{
    const QList<Family> &families = Families::all();
    const auto it = std::find_if(families.cbegin(), families.cend(), test);
    return it == families.cend() ? nullptr : &*it;
}

} // namespace

namespace Families {

const QList<Family> &all()
{
    static const QList<Family> families = carriedFamilies();
    return families;
}

const Family *of(TargetInfo::eTARGET_TYPE family)
{
    return find([family](const Family &row) { return row.family == family; });
}

const Family *of(int family)
{
    return of(static_cast<TargetInfo::eTARGET_TYPE>(family));
}

const Family *ofModel(const QString &model)
{
    return find([&model](const Family &family) { return family.models.contains(model); });
}

const Family *ofLetter(const QString &letter)
{
    return find([&letter](const Family &family) {
        return !letter.isEmpty() && family.letter.compare(letter, Qt::CaseInsensitive) == 0;
    });
}

QStringList letters()
{
    QStringList list;
    for (const Family &family : all())
        list << family.letter;
    return list;
}

QString modelNumber(const QString &token)
{
    for (const Family &family : all()) {
        for (const auto &number : family.modelNumbers) {
            if (number.first == token)
                return number.second;
        }
    }
    return token;
}

} // namespace Families

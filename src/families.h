#pragma once

#include "targetinfo.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// One model family that the program carries firmware for: how units of the family name themselves,
// what is installed on them, and what the wizard shows of them. Every front end reads these rows
// (the catalogue, the worker's version text, talvo-flash, the scenes through the controller);
// another family is another row in Families::all(), with its files in the resource collection.
struct Family
{
    TargetInfo::eTARGET_TYPE family = TargetInfo::TARGET_UNKNOWN;
    QString letter;     // the letter after the model number, as --family takes it: "S"
    QStringList models; // the model names of the family, matched whole and case-sensitively
    // The model number with its letter as an older version text writes it ("400S") and as the model
    // name has it ("400 S").
    QList<QPair<QString, QString>> modelNumbers;
    QString image;                     // resource path of the carried TI-TXT image
    unsigned int size = 0;             // data bytes in that image, the denominator of the progress
    QString version;                   // the carried version, "major.minor"
    QString changelog;                 // resource path of the image's change log
    QString picture;                   // the family's picture as the scenes name it, "/fmw/s/logo.jpg"
    const char *caption = nullptr;     // under the picture on the restore page (marked for translation)
    const char *restartNote = nullptr; // the success page's note on how to restart the unit (marked too)
    bool batteryTip = false;           // the device page asks for a half-full battery before the update
    // The controller's flash memory, [flashStart, flashEnd): every byte of an image installed on a
    // unit of the family lies there, the interrupt vectors and the reset vector at 0xFFFE among them.
    quint32 flashStart = 0;
    quint32 flashEnd = 0;
};

namespace Families {

// The context of the captions and notes for translation.
const char *const TRANSLATION_CONTEXT = "Families";

// Every family, in the order the restore page offers them.
const QList<Family> &all();
// The row of a family; null for TARGET_UNKNOWN or a family not carried.
const Family *of(TargetInfo::eTARGET_TYPE family);
const Family *of(int family);
// The family whose list holds this very model name; null when none does.
const Family *ofModel(const QString &model);
// The family of a letter, in either case ("s", "L"); null when none has it.
const Family *ofLetter(const QString &letter);
// The families' letters, in their order: "S", "L".
QStringList letters();
// The model number with its letter as the version text's token has it, in the words of the model
// name ("400S" -> "400 S"); a token that no family lists is used as it is.
QString modelNumber(const QString &token);

} // namespace Families

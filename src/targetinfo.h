#pragma once

#include <QMap>
#include <QObject>
#include <QString>

class FirmwareInfo;

// The unit last reported by the worker (model name, installed version, family derived from the
// name) and the fixed catalogue of firmware images, one entry per family of the family table
// (families.h), which also holds each family's model names.
class TargetInfo : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(TargetInfo)

public:
    enum eTARGET_TYPE
    {
        TARGET_UNKNOWN = 0,
        TARGET_TALVO_S = 1,
        TARGET_TALVO_L = 2
    };
    Q_ENUM(eTARGET_TYPE)

    explicit TargetInfo(QObject *parent = nullptr);
    ~TargetInfo() override;

    eTARGET_TYPE type() const { return _type; }

    void setName(const QString &name);
    QString name() const { return _name; }

    void setVersion(const QString &version);
    QString version() const { return _version; }

    // Fields of the current family's catalogue entry; empty texts and 0 without an entry.
    QString firmwareImage() const;
    unsigned int firmwareSize() const;
    QString firmwareVersion() const;
    QString firmwareChangelog() const;
    QString firmwareLogo() const;
    // The catalogue entry of a family, or null.
    const FirmwareInfo *firmwareFor(eTARGET_TYPE family) const { return _firmware.value(family, nullptr); }

private:
    const FirmwareInfo *entry() const;

    eTARGET_TYPE _type = TARGET_UNKNOWN;
    QString _name;
    QString _version;
    QMap<eTARGET_TYPE, FirmwareInfo *> _firmware;
};

#pragma once

#include "updatedriver.h"
#include "versionorder.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

// Stands in for UpdateDriver in the scene tests: the same properties, slots and signals, but
// every answer is set by the test, and every call and property read is recorded.
class ScriptedUpdateDriver : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ScriptedUpdateDriver)
    Q_PROPERTY(bool active READ active NOTIFY activeChanged)
    Q_PROPERTY(int progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(int modelType READ modelType)
    Q_PROPERTY(QString modelName READ modelName)
    Q_PROPERTY(QString modelPicture READ modelPicture)
    Q_PROPERTY(QString versionCurrent READ versionCurrent)
    Q_PROPERTY(QString versionNew READ versionNew)
    Q_PROPERTY(SearchFailure searchFailure READ searchFailure)
    Q_PROPERTY(int restoreFamily READ restoreFamily)
    Q_PROPERTY(QString restoreModel READ restoreModel)
    Q_PROPERTY(bool erased READ erased)
    Q_PROPERTY(bool cannotVerify READ cannotVerify)
    Q_PROPERTY(QVariantList families READ families CONSTANT)

    // For the test only.
    Q_PROPERTY(QStringList calls READ calls NOTIFY called)

public:
    // The scenes name these by UpdateDriver's names.
    enum SearchFailure
    {
        SearchFailureUnknown = UpdateDriver::SearchFailureUnknown,
        SearchNoAccess = UpdateDriver::SearchNoAccess,
        SearchPortBusy = UpdateDriver::SearchPortBusy,
        SearchUnitInLoader = UpdateDriver::SearchUnitInLoader,
        SearchNotUnderstood = UpdateDriver::SearchNotUnderstood,
    };
    Q_ENUM(SearchFailure)

    explicit ScriptedUpdateDriver(QObject *parent = nullptr) : QObject(parent) {}

    bool active() const { return _active; }
    int progress() const { return _progress; }
    int modelType() const { return noteRead(QStringLiteral("modelType"), _modelType); }
    QString modelName() const { return noteRead(QStringLiteral("modelName"), _modelName); }
    QString modelPicture() const { return noteRead(QStringLiteral("modelPicture"), _modelPicture); }
    QString versionCurrent() const { return noteRead(QStringLiteral("versionCurrent"), _versionCurrent); }
    QString versionNew() const { return noteRead(QStringLiteral("versionNew"), _versionNew); }
    SearchFailure searchFailure() const { return _searchFailure; }
    int restoreFamily() const { return _restoreFamily; }
    QString restoreModel() const { return _restoreModel; }
    bool erased() const { return _erased; }
    bool cannotVerify() const { return _cannotVerify; }
    // The real family table: the scenes show what the program carries.
    QVariantList families() const { return UpdateDriver::familyTable(); }

    QStringList calls() const { return _calls; }

    // Scripting by the test.
    Q_INVOKABLE void setDriverAvailable(bool available) { _driverAvailable = available; }
    Q_INVOKABLE void setUpdateAvailable(bool available) { _updateAvailable = available; }
    Q_INVOKABLE void setSearchFailure(int failure) { _searchFailure = static_cast<SearchFailure>(failure); }
    // What the journal knows of the unit found in its loader.
    Q_INVOKABLE void setRestoreFamily(int family, const QString &model)
    {
        _restoreFamily = family, _restoreModel = model;
    }
    Q_INVOKABLE void setErased(bool erased) { _erased = erased; }
    Q_INVOKABLE void setCannotVerify(bool cannotVerify) { _cannotVerify = cannotVerify; }
    Q_INVOKABLE void setUnitPlugged(bool plugged) { _unitPlugged = plugged; }
    // Whether the desktop opens the change log and the instructions.
    Q_INVOKABLE void setDocumentsOpen(bool open) { _documentsOpen = open; }
    // Whether install() starts an installation (it does not when the catalogue has no firmware).
    Q_INVOKABLE void setInstallStarts(bool starts) { _installStarts = starts; }
    Q_INVOKABLE void setUnit(int type, const QString &name, const QString &picture, const QString &current,
                             const QString &carried)
    {
        _modelType = type;
        _modelName = name;
        _modelPicture = picture;
        _versionCurrent = current;
        _versionNew = carried;
    }
    // The worker's answers, as the controller relays them.
    Q_INVOKABLE void finish(bool result) { resultHandle(result); }
    Q_INVOKABLE void report(int percent) { progressHandle(static_cast<unsigned int>(percent)); }

    Q_INVOKABLE int count(const QString &call) const { return _calls.count(call); }
    Q_INVOKABLE int reads(const QString &property) const { return _reads.value(property); }
    // Milliseconds since the epoch of the last call of this kind, 0 when there was none.
    Q_INVOKABLE double lastCallTime(const QString &call) const { return _callTimes.value(call); }
    Q_INVOKABLE void clearRecord()
    {
        _calls.clear();
        _callTimes.clear();
        _reads.clear();
        emit called();
    }

signals:
    void activeChanged();
    void progressChanged();
    void searchDevice(int vendor, int product);
    void stopSearching();
    void installFirmware(const QString &firmware, unsigned int size);
    void notedFamily(int family);
    void journalNotWritten(const QString &warning);
    void phaseChanged();

    void called();

public slots:
    bool isDriverAvailable()
    {
        note(QStringLiteral("isDriverAvailable()"));
        return _driverAvailable;
    }
    bool isDriverLoaded()
    {
        note(QStringLiteral("isDriverLoaded()"));
        return true;
    }
    void search(bool on)
    {
        note(on ? QStringLiteral("search(true)") : QStringLiteral("search(false)"));
        _active = on;
    }
    void versionHandle(const QString &modelName, const QString &version)
    {
        note(QStringLiteral("versionHandle()"));
        _modelName = modelName;
        _versionCurrent = version;
    }
    bool isUpdateAvailable()
    {
        note(QStringLiteral("isUpdateAvailable()"));
        return _updateAvailable;
    }
    // The one rule, on the scripted versions.
    bool isDowngrade()
    {
        note(QStringLiteral("isDowngrade()"));
        return VersionOrder::isDowngrade(_versionCurrent, _versionNew);
    }
    bool openFileNatively(const QString &resourceFile, const QString &outputFile)
    {
        return opened(QStringLiteral("openFileNatively()"), resourceFile + outputFile);
    }
    bool openChangelogNatively() { return opened(QStringLiteral("openChangelogNatively()")); }
    bool openDocumentationNatively() { return opened(QStringLiteral("openDocumentationNatively()")); }
    void install()
    {
        note(QStringLiteral("install()"));
        if (!_installStarts)
            return;
        _active = true;
        _progress = 0;
    }
    void progressHandle(const unsigned int &progress)
    {
        _progress = static_cast<int>(progress);
        emit progressChanged();
    }
    void resultHandle(const bool &result)
    {
        _active = false;
        _result = result;
        emit activeChanged();
    }
    bool result()
    {
        note(QStringLiteral("result()"));
        return _result;
    }
    bool isUnitPlugged()
    {
        note(QStringLiteral("isUnitPlugged()"));
        return _unitPlugged;
    }
    bool restore(int family)
    {
        note(QStringLiteral("restore(%1)").arg(family));
        return _active = _installStarts;
    }

private:
    void note(const QString &call, const QString & = QString())
    {
        _calls.append(call);
        _callTimes.insert(call, static_cast<double>(QDateTime::currentMSecsSinceEpoch()));
        emit called();
    }
    bool opened(const QString &call, const QString &argument = QString())
    {
        note(call, argument);
        return _documentsOpen;
    }
    template <typename T> const T &noteRead(const QString &property, const T &value) const
    {
        ++_reads[property];
        return value;
    }

    bool _active = false;
    int _progress = 0;
    bool _result = false;
    bool _driverAvailable = true;
    bool _updateAvailable = true;
    bool _installStarts = true;
    SearchFailure _searchFailure = SearchFailureUnknown;
    int _restoreFamily = 0;
    QString _restoreModel;
    bool _erased = false;
    bool _cannotVerify = false;
    bool _unitPlugged = true;
    bool _documentsOpen = true;
    int _modelType = 0;
    QString _modelName;
    QString _modelPicture;
    QString _versionCurrent;
    QString _versionNew;
    QStringList _calls;
    QHash<QString, double> _callTimes;
    mutable QHash<QString, int> _reads;
};

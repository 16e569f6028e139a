// SPDX-License-Identifier: MIT
#include "SettingsStore.h"

#include "NumberText.h"
#include "engine/files/FilePath.h"
#include "ProgramInfo.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStringList>
#include <QTemporaryFile>

#include <array>

namespace vexalo {

namespace {

// The organisation only shapes the store's location on some systems; the
// application and the section are what the program addresses.
const QString organization = QStringLiteral("Vexalo");
const QString section = QStringLiteral("Settings");
constexpr int folderCount = 5;

struct GeometryKey {
    const char *key;
    float MainWindowState::*value;
    float fallback;
    bool isSize;
};

const std::array<GeometryKey, 4> geometryKeys = {{
    {"MainLeft", &MainWindowState::left, defaultMainLeft, false},
    {"MainTop", &MainWindowState::top, defaultMainTop, false},
    {"MainWidth", &MainWindowState::width, defaultMainWidth, true},
    {"MainHeight", &MainWindowState::height, defaultMainHeight, true},
}};

QString folderKey(int index)
{
    return QStringLiteral("Folder%1").arg(index + 1);
}

// A value another tool wrote unquoted with a comma in it reads back as a
// list; it was one text when it was written, so it becomes one again.
QString textOf(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

// Whether the store file reads cleanly. Judged on a private copy: Qt keeps
// the files it has read in a cache, and a second look at one it could not
// parse reports no error.
QSettings::Status storeFileStatus(const QString &file)
{
    QFile store(file);
    if (!store.exists())
        return QSettings::NoError;
    if (!store.open(QIODevice::ReadOnly))
        return QSettings::AccessError;
    const QByteArray bytes = store.readAll();
    if (store.error() != QFileDevice::NoError)
        return QSettings::AccessError;

    // Only this user may read the copy: it holds the user's texts and folders.
    QTemporaryFile copy(QDir::tempPath() + QStringLiteral("/vexalo4-settings-XXXXXX.ini"));
    if (!copy.open() || copy.write(bytes) != bytes.size() || !copy.flush())
        return QSettings::NoError; // cannot tell; the save itself still reports what it meets
    QSettings check(copy.fileName(), QSettings::IniFormat);
    check.allKeys(); // every section is parsed only when asked for
    return check.status();
}

// A folder keeps its bytes in the store (see FilePath::settingsValue()).
QVariant folderValue(const QString &folder)
{
    return FilePath::fromString(folder).settingsValue();
}

QString folderOf(const QVariant &value)
{
    return FilePath::fromSettingsValue(value).toString();
}

} // namespace

SettingsTask settingsTask(const QString &task)
{
    return task == QLatin1String("get") ? SettingsTask::Load : SettingsTask::Save;
}

SettingsStore::SettingsStore(QString programFolder)
    : m_programFolder(std::move(programFolder))
{
}

SettingsStore::SettingsStore(QString programFolder, QString iniFile)
    : m_programFolder(std::move(programFolder))
    , m_iniFile(std::move(iniFile))
{
}

std::unique_ptr<QSettings> SettingsStore::open() const
{
    std::unique_ptr<QSettings> settings;
    if (m_iniFile.isEmpty()) {
        settings =
            std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, organization, programTitle());
        // Only the user's own values count: no system-wide file may fill in a
        // key the user never saved.
        settings->setFallbacksEnabled(false);
    } else {
        settings = std::make_unique<QSettings>(m_iniFile, QSettings::IniFormat);
    }
    return settings;
}

QString SettingsStore::location() const
{
    return QDir::toNativeSeparators(open()->fileName());
}

QString SettingsStore::failure(int status) const
{
    if (status == QSettings::FormatError)
        return tr("The settings store %1 is not in a form the program can read.").arg(location());
    return tr("The settings store %1 cannot be read or written.").arg(location());
}

SettingsResult SettingsStore::run(const QString &task, MainWindowState &state) const
{
    return settingsTask(task) == SettingsTask::Load ? load(state) : save(state);
}

SettingsResult SettingsStore::load(MainWindowState &state) const
{
    const std::unique_ptr<QSettings> settings = open();
    settings->beginGroup(section);

    for (const GeometryKey &key : geometryKeys) {
        const QVariant stored = settings->value(QLatin1String(key.key));
        const std::optional<float> value = stored.isValid() ? parseSingle(textOf(stored)) : key.fallback;
        // A window cannot take a size of nothing or less; like text that is
        // no number, such a value leaves the window as it is.
        if (!value || (key.isSize && *value <= 0))
            continue;
        state.*key.value = *value;
    }

    state.findString = textOf(settings->value(QStringLiteral("FindText"), QString()));
    state.replaceString = textOf(settings->value(QStringLiteral("ReplaceText"), QString()));
    // Only a "1" turns it on: a value that is anything else leaves the
    // literal search, which never surprises.
    state.regularExpression =
        textOf(settings->value(QStringLiteral("RegularExpression"), QString())) == QLatin1String("1");

    state.folders.resize(folderCount);
    for (int i = 0; i < folderCount; ++i)
        state.folders[i] = folderOf(settings->value(folderKey(i), m_programFolder));

    settings->endGroup();
    SettingsResult result{SettingsTask::Load, true, {}};
    if (settings->status() != QSettings::NoError) {
        result.ok = false;
        result.error = failure(settings->status());
    }
    return result;
}

SettingsResult SettingsStore::save(const MainWindowState &state) const
{
    const std::unique_ptr<QSettings> settings = open();
    // QSettings writes the file anew on sync even when it could not read what
    // was there, and then reports the read's error: a store that holds
    // anything else (binary junk, another program's file) would be replaced
    // by a save reported as failed. So a store that does not read cleanly is
    // not written; the user hears of it and the file stays as it is.
    if (const QSettings::Status before = storeFileStatus(settings->fileName()); before != QSettings::NoError)
        return {SettingsTask::Save, false, failure(before)};
    settings->beginGroup(section);

    if (!state.minimized && !state.maximized) {
        for (const GeometryKey &key : geometryKeys) {
            // A value that cannot be written as a number is skipped; the
            // store keeps what it had and the next key still goes in.
            const QString text = formatSingle(state.*key.value);
            if (!text.isEmpty())
                settings->setValue(QLatin1String(key.key), text);
        }
    }

    settings->setValue(QStringLiteral("FindText"), state.findString);
    settings->setValue(QStringLiteral("ReplaceText"), state.replaceString);
    settings->setValue(QStringLiteral("RegularExpression"),
                       state.regularExpression ? QStringLiteral("1") : QStringLiteral("0"));
    for (int i = 0; i < folderCount; ++i)
        settings->setValue(folderKey(i), folderValue(state.folders.value(i)));

    settings->endGroup();
    // Values only reach the store on sync; whether they did shows in status.
    settings->sync();
    SettingsResult result{SettingsTask::Save, true, {}};
    if (settings->status() != QSettings::NoError) {
        result.ok = false;
        result.error = failure(settings->status());
    }
    return result;
}

} // namespace vexalo

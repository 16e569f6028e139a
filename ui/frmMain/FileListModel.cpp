// SPDX-License-Identifier: MIT
#include "FileListModel.h"

#include "FilePattern.h"
#include "engine/files/FileNames.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace {

QString systemReason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

bool isEntryOfType(const QByteArray &folder, const dirent *entry, unsigned char type, mode_t mode)
{
    if (entry->d_type == type)
        return true;
    if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
        return false;
    // Links count when they lead to the kind wanted; stat() follows them.
    struct stat info {};
    const QByteArray full = folder + '/' + entry->d_name;
    return ::stat(full.constData(), &info) == 0 && (info.st_mode & S_IFMT) == mode;
}

bool isRegularEntry(const QByteArray &folder, const dirent *entry)
{
    return isEntryOfType(folder, entry, DT_REG, S_IFREG);
}

void sortNames(QStringList &names)
{
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int folded = QString::compare(a, b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
}

} // namespace

FileListModel::FileListModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

bool FileListModel::canList(const QString &folder, QString *error)
{
    DIR *dir = ::opendir(vexalo::encodeFileName(folder).constData());
    if (!dir) {
        if (error)
            *error = systemReason(errno);
        return false;
    }
    ::closedir(dir);
    return true;
}

QStringList FileListModel::subFolders(const QString &folder)
{
    // Read here rather than through QDir, which cannot name a folder whose
    // name is not valid UTF-8, and so would leave it out.
    const QByteArray encoded = vexalo::encodeFileName(folder);
    QStringList names;
    DIR *dir = ::opendir(encoded.constData());
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        if (isEntryOfType(encoded, entry, DT_DIR, S_IFDIR))
            names << vexalo::decodeFileName(QByteArrayView(entry->d_name, qsizetype(std::strlen(entry->d_name))));
    }
    ::closedir(dir);
    sortNames(names);
    return names;
}

bool FileListModel::setPath(const QString &folder, QString *error)
{
    return load(folder, m_pattern, error);
}

void FileListModel::setPattern(const QString &pattern)
{
    if (m_path.isEmpty()) {
        m_pattern = pattern;
        return;
    }
    // A folder that vanished since it was opened simply lists nothing new.
    if (!load(m_path, pattern, nullptr))
        m_pattern = pattern;
}

void FileListModel::refresh()
{
    if (!load(m_path, m_pattern, nullptr)) {
        beginResetModel();
        m_names.clear();
        endResetModel();
    }
}

bool FileListModel::load(const QString &folder, const QString &pattern, QString *error)
{
    const QByteArray encoded = vexalo::encodeFileName(folder);
    DIR *dir = ::opendir(encoded.constData());
    if (!dir) {
        if (error)
            *error = systemReason(errno);
        return false;
    }
    // readdir with d_type avoids a stat() per file, which keeps a folder of
    // 100,000 files quick to list.
    const FilePattern filter(pattern);
    QStringList names;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        if (!isRegularEntry(encoded, entry))
            continue;
        const QString name =
            vexalo::decodeFileName(QByteArrayView(entry->d_name, qsizetype(std::strlen(entry->d_name))));
        if (filter.matches(name))
            names << name;
    }
    ::closedir(dir);
    sortNames(names);

    beginResetModel();
    m_path = folder;
    m_pattern = pattern;
    m_names = std::move(names);
    endResetModel();
    return true;
}

int FileListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_names.size());
}

QVariant FileListModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_names.size())
        return {};
    // The list holds each name as its bytes decode; people read it with the
    // undecodable bytes spelled out.
    return vexalo::displayName(m_names.at(index.row()));
}

// SPDX-License-Identifier: MIT
#include "engine/files/FilePath.h"

#include "engine/files/FileNames.h"

#include <QStringList>

namespace vexalo {

FilePath FilePath::fromString(QStringView name)
{
    return FilePath(encodeFileName(name));
}

QList<FilePath> FilePath::fromStrings(const QStringList &names)
{
    QList<FilePath> paths;
    paths.reserve(names.size());
    for (const QString &name : names)
        paths.append(fromString(name));
    return paths;
}

FilePath FilePath::fromSettingsValue(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::QByteArray)
        return FilePath(value.toByteArray());
    // Written unquoted with a comma in it by another tool, a name reads back
    // as a list; it was one name when it was written.
    if (value.metaType().id() == QMetaType::QStringList)
        return fromString(value.toStringList().join(QStringLiteral(", ")));
    return fromString(value.toString());
}

QString FilePath::toString() const
{
    return decodeFileName(m_bytes);
}

QString FilePath::display() const
{
    return displayName(toString());
}

QVariant FilePath::settingsValue() const
{
    const QString text = QString::fromUtf8(m_bytes);
    if (text.toUtf8() == m_bytes)
        return text;
    return m_bytes;
}

FilePath FilePath::operator/(const FilePath &name) const
{
    if (m_bytes.isEmpty())
        return name;
    if (m_bytes.endsWith('/'))
        return FilePath(m_bytes + name.m_bytes);
    return FilePath(m_bytes + '/' + name.m_bytes);
}

FilePath FilePath::folder() const
{
    const qsizetype slash = m_bytes.lastIndexOf('/');
    if (slash < 0)
        return FilePath(QByteArrayLiteral("."));
    if (slash == 0)
        return FilePath(QByteArrayLiteral("/"));
    return FilePath(m_bytes.left(slash));
}

FilePath FilePath::fileName() const
{
    return FilePath(m_bytes.mid(m_bytes.lastIndexOf('/') + 1));
}

} // namespace vexalo

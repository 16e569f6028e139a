// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractListModel>
#include <QStringList>

// The names of the files in one folder that match a pattern, sorted by name
// case-insensitively. Hidden names (a leading dot) and anything that is not a
// regular file, or a link to one, are left out.
class FileListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit FileListModel(QObject *parent = nullptr);

    // On failure the list keeps what it showed and *error says why.
    bool setPath(const QString &folder, QString *error);
    void setPattern(const QString &pattern);
    // Re-reads the folder, so renamed and new files show as they are now.
    void refresh();

    QString path() const { return m_path; }
    QString pattern() const { return m_pattern; }
    // Exactly as they name the files (see decodeFileName); the view shows
    // them through displayName.
    const QStringList &names() const { return m_names; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // Whether a folder can be listed; *error gets the system's reason when not.
    static bool canList(const QString &folder, QString *error);
    // The folders in a folder (links to folders included), hidden ones left
    // out, sorted as the file list is; empty when it cannot be read.
    static QStringList subFolders(const QString &folder);

private:
    bool load(const QString &folder, const QString &pattern, QString *error);

    QString m_path;
    QString m_pattern;
    QStringList m_names;
};

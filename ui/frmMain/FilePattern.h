// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QString>

// DOS-style wildcards for the file list: "*" any run, "?" one character,
// matched case-insensitively against the whole name. "*.*" matches every
// name, a pattern ending in "." matches only names without a dot, and
// several patterns may be given separated by ";".
class FilePattern {
public:
    explicit FilePattern(const QString &patterns = QString());
    bool matches(const QString &name) const;

private:
    struct Part {
        QString glob; // case-folded
        bool withoutDot = false;
    };
    QList<Part> m_parts;
    bool m_matchesAll = false;
};

// SPDX-License-Identifier: MIT
#pragma once

#include "engine/files/WriteOptions.h"

#include <QByteArray>

#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace vexalo {

// Who may do what with a file, as the writer carries it over to the new file
// that takes the old one's place: owner, group, permission bits, access
// control list and every other extended attribute. All of it goes onto the
// new file while that is still unnamed or hidden, so the file never shows
// under its name granting anything the old one did not.
//
// The rule: what the old file grants must be what the new one grants. Where
// that cannot be reproduced (another user's file rewritten by an ordinary
// user would become the writer's; an ACL, a security label or a user
// attribute the new file cannot carry), the write fails with a reason naming
// what could not be kept, and the file stays as it was. Nothing is silently
// dropped, because a lost ACL entry or label changes who may read the file,
// and a lost user attribute is the user's data.
class FileMetadata {
public:
    // What the new file at target is to have: that of the file it replaces
    // (current, the file as found, when there is one), or of the file the
    // options name. Nothing is read for a file of the process's own.
    IoStatus read(const QByteArray &target, const struct stat *current, const WriteOptions &options);
    // False when there is nothing to keep: the new file is the process's
    // own, with the permission bits given here.
    bool known() const { return m_known; }
    void setMode(mode_t mode) { m_mode = mode; }

    // Owner and group, given before the content is written, so a file that
    // cannot keep its owner costs no writing. *seen, when given, gets the
    // status of fd as it was looked at (left alone when it was not).
    IoStatus applyOwner(int fd, struct stat *seen = nullptr) const;
    // Permission bits, ACL and the other attributes, given once the content
    // is in: writing takes set-user-ID bits and file capabilities away.
    IoStatus applyAccess(int fd) const;

private:
    struct Attribute {
        QByteArray name;
        QByteArray value;
    };
    // From the open file fd when it is given, else by path.
    IoStatus readAttributes(const QByteArray &path, bool followLinks, int fd = -1);

    std::vector<Attribute> m_attributes;
    mode_t m_mode = 0;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    bool m_known = false;
    bool m_folderGivesAcl = true;
};

} // namespace vexalo

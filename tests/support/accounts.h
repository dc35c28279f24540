// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Accounts in this machine's user database for the pupils that a test runs as, so that the
// program can tell who belongs to a class, as it does for real accounts. Groups and users that
// are missing are made (groupadd, useradd: the test runs as root) and removed again at the end.
#include <QByteArray>
#include <QList>

#include <cstdlib>

#include <grp.h>
#include <pwd.h>
#include <sys/types.h>

class TestAccounts {
public:
    struct Group {
        QByteArray name;
        gid_t gid;
    };
    struct User {
        QByteArray name;
        uid_t uid;
        gid_t primary;
        QByteArray others; // supplementary groups by name, separated by commas; may be empty
    };

    TestAccounts(const QList<Group>& groups, const QList<User>& users)
    {
        for (const Group& g : groups) {
            if (::getgrgid(g.gid))
                continue;
            good = good && run("groupadd -g " + QByteArray::number(g.gid) + ' ' + g.name);
            madeGroups.prepend(g.name);
        }
        for (const User& u : users) {
            if (::getpwuid(u.uid))
                continue;
            QByteArray add = "useradd -M -N -d /nonexistent -s /usr/sbin/nologin -u " + QByteArray::number(u.uid)
                             + " -g " + QByteArray::number(u.primary);
            if (!u.others.isEmpty())
                add += " -G " + u.others;
            good = good && run(add + ' ' + u.name);
            madeUsers.prepend(u.name);
        }
    }
    ~TestAccounts()
    {
        for (const QByteArray& name : madeUsers)
            run("userdel " + name);
        for (const QByteArray& name : madeGroups)
            run("groupdel " + name);
    }
    TestAccounts(const TestAccounts&) = delete;
    TestAccounts& operator=(const TestAccounts&) = delete;

    bool ok() const { return good; }

private:
    static bool run(const QByteArray& command) { return std::system((command + " >/dev/null 2>&1").constData()) == 0; }

    bool good = true;
    QList<QByteArray> madeUsers, madeGroups;
};

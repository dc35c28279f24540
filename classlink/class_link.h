// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QUrl>

#include <optional>

// The class link: a file tavon.class in the folder of the program (where tavon.rnk would be
// kept) holding the pupils' link that `nubora1-server class add` printed, BASE/c/{classKey}/.
// With it, the results window reads, saves and clears the class's lists on the class server
// instead of tavon.rnk.
namespace classlink {

inline const QString classLinkFileName = QStringLiteral("tavon.class");

// The class of a pupils' link: the server's base and the class key.
struct ClassLink {
    QUrl base;   // ends in "/"
    QString key; // a class key (rules/class_key.h); empty where the file holds no pupils' link
    bool isValid() const { return !key.isEmpty(); }
    // BASE/api/v1/classes/{key}, followed by tail ("/entries", "/blank").
    QUrl api(const QString& tail = {}) const;
};

// The link in text: its first http or https URL (so that the lines `class add` printed may be
// kept whole, the pupils' link coming before the teacher's), whose path ends in c/{classKey}/
// (the last slash may be missing). Anything else gives a link that is not valid.
ClassLink parseClassLink(QByteArrayView text);

// The class link in directory (the program's directory when empty), or nothing where no
// tavon.class is there. A tavon.class that holds no pupils' link still names a class (a link
// that is not valid): the window's saves then fail rather than go into a file the class
// never sees.
std::optional<ClassLink> findClassLink(const QString& directory);

} // namespace classlink

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The administrator's side of nubora1-server, apart from serving: where the site to serve is,
// the installed service's classes worked on as root without systemd, and a backup of the
// SQLite store taken while the server serves.
#include <filesystem>
#include <map>
#include <string>

namespace server {

// The site beside the program: the installed one (../share/nubora1-server/site), else, in a
// folder above the program, `make web`'s build-web/ or `make site`'s
// build-site/nubora1-web-VERSION/. A site is a folder holding index.html; empty when none is.
std::string siteBeside(const std::filesystem::path& programDir);
bool isSite(const std::filesystem::path& dir);

// The installed service's state folder: /var/lib/private/nubora1-server (systemd's folder for a
// DynamicUser's state) when it exists, else /var/lib/nubora1-server, made (0700, root's) when
// missing and `make` is set: systemd gives it to the service's user when the service starts.
std::string serviceStateFolder(bool make);

// The settings NAME=VALUE of an environment file such as /etc/default/nubora1-server (comments
// and blank lines skipped, one pair of surrounding quotes taken off); none when it is missing.
std::map<std::string, std::string> readEnvironmentFile(const std::filesystem::path& file);

// Run as root: takes the user and group that own `folder` (keeping root when root owns it) and
// the umask 0077, so that every file made from then on (the database, its WAL and shared
// memory) is that owner's, mode 0600, and the service running as that owner can write it.
void becomeOwnerOf(const std::filesystem::path& folder);

// Copies DIR/nubora1.sqlite whole into `file` (a new file, mode 0600) with SQLite's VACUUM INTO:
// one read transaction, so the copy holds every save committed before it began, those still in
// the WAL included, while the server goes on saving. Throws std::runtime_error when it fails.
void backupSqlite(const std::string& dataDir, const std::string& file);

} // namespace server

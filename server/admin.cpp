// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/admin.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace server {

namespace fs = std::filesystem;

bool isSite(const fs::path& dir)
{
    std::error_code error;
    return !dir.empty() && fs::is_regular_file(dir / "index.html", error);
}

std::string siteBeside(const fs::path& programDir)
{
    if (isSite(programDir / "../share/nubora1-server/site"))
        return (programDir / "../share/nubora1-server/site").lexically_normal().string();
    for (fs::path dir = programDir; !dir.empty() && dir != dir.root_path(); dir = dir.parent_path())
        for (const fs::path& site : {dir / "build-web", dir / "build-site" / ("nubora1-web-" NUBORA1_VERSION)})
            if (isSite(site))
                return site.string();
    return {};
}

std::string serviceStateFolder(bool make)
{
    std::error_code error;
    if (fs::is_directory("/var/lib/private/nubora1-server", error))
        return "/var/lib/private/nubora1-server";
    const fs::path folder = "/var/lib/nubora1-server";
    if (make && fs::create_directories(folder))
        fs::permissions(folder, fs::perms::owner_all);
    return folder.string();
}

std::map<std::string, std::string> readEnvironmentFile(const fs::path& file)
{
    std::map<std::string, std::string> values;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        line.erase(0, line.find_first_not_of(" \t"));
        const std::size_t equals = line.find('=');
        if (line.empty() || line[0] == '#' || equals == std::string::npos)
            continue;
        std::string value = line.substr(equals + 1);
        value.erase(value.find_last_not_of(" \t\r") + 1);
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
            value = value.substr(1, value.size() - 2);
        values[line.substr(0, equals)] = value;
    }
    return values;
}

void becomeOwnerOf(const fs::path& folder)
{
    struct stat owner {};
    if (::stat(folder.c_str(), &owner) != 0)
        throw std::runtime_error("cannot read " + folder.string() + ": " + std::strerror(errno));
    ::umask(0077);
    if (owner.st_uid == ::geteuid())
        return;
    if (::setgroups(0, nullptr) != 0 || ::setresgid(owner.st_gid, owner.st_gid, owner.st_gid) != 0
        || ::setresuid(owner.st_uid, owner.st_uid, owner.st_uid) != 0)
        throw std::runtime_error("cannot take the user of " + folder.string() + ": " + std::strerror(errno));
}

void backupSqlite(const std::string& dataDir, const std::string& file)
{
    const fs::path source = fs::path(dataDir) / "nubora1.sqlite";
    std::error_code error;
    if (!fs::is_regular_file(source, error))
        throw std::runtime_error("no classes in " + dataDir + " (no nubora1.sqlite)");
    if (fs::exists(file, error))
        throw std::runtime_error(file + " exists; name a new file");
    sqlite3* db = nullptr;
    // Read and write, as the server opens it: a WAL database is read through its shared memory.
    int rc = sqlite3_open_v2(source.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    std::string why;
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, 5000);
        sqlite3_stmt* statement = nullptr;
        rc = sqlite3_prepare_v2(db, "VACUUM INTO ?", -1, &statement, nullptr);
        if (rc == SQLITE_OK) {
            const mode_t mask = ::umask(0077); // the copy holds the classes' keys
            sqlite3_bind_text(statement, 1, file.c_str(), -1, SQLITE_TRANSIENT);
            rc = sqlite3_step(statement) == SQLITE_DONE ? SQLITE_OK : SQLITE_ERROR;
            ::umask(mask);
        }
        if (rc != SQLITE_OK)
            why = sqlite3_errmsg(db);
        sqlite3_finalize(statement);
    } else
        why = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    if (rc != SQLITE_OK) {
        fs::remove(file, error);
        throw std::runtime_error("cannot back up " + source.string() + " into " + file + ": " + why);
    }
}

} // namespace server

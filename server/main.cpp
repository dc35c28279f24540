// SPDX-License-Identifier: GPL-3.0-or-later
// nubora1-server: the class server. Pupils' devices send each game's entry to it, and it saves
// the entry into the class's lists with the game library's own Save, one database
// transaction a save, so that a class of forty on forty devices shares one best-five list.
// HTTP comes from server/http_server.h (Boost.Beast: every connection on one event loop, the
// database's work on a small pool); HTTPS is left to a reverse proxy in front of it.
#include "server/admin.h"
#include "server/api.h"
#include "server/encoding.h"
#include "server/http_server.h"
#include "server/qr.h"
#include "server/store.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <system_error>

#include <unistd.h>

namespace {

using namespace server;

const char usage[] = R"(Usage:
  nubora1-server serve --data DIR --listen ADDRESS:PORT [--database postgresql://…] [--site DIR] [--url BASE]
      Serves the game's site and the classes' lists. The site is served at BASE, and for a
      class at BASE/c/KEY/; the class's teacher's page is at BASE/t/KEY/.
  nubora1-server class add NAME --data DIR [--database postgresql://…] [--url BASE]
      Adds a class and prints its pupils' link, its teacher's link and the pupils' link as a
      QR code. BASE is remembered with the data (default http://HOSTNAME:8080/).
  nubora1-server class list --data DIR [--database postgresql://…]
  nubora1-server class remove KEY-or-NAME --yes --data DIR [--database postgresql://…]
      Removes a class with all its entries and history (only with --yes).
  nubora1-server backup FILE --data DIR
      Copies the classes (DIR/nubora1.sqlite) into the new FILE while the server serves. To
      restore, stop the server, remove DIR/nubora1.sqlite-wal and -shm, copy FILE back as
      DIR/nubora1.sqlite (owned by the server's user) and start it again.
  nubora1-server --help

The classes are kept in DIR/nubora1.sqlite, or with --database in PostgreSQL, which several
servers can share. --no-rate-limits (for benchmarks only) lets one address save without limit;
--no-replay (for benchmarks only) stores entries and their games as sent, without replaying them.
Options not given are taken from NUBORA1_LISTEN, NUBORA1_URL and NUBORA1_DATABASE when set, and
--data from STATE_DIRECTORY, as nubora1-server.service sets them. Run as root without --data
or --database, `class` and `backup` work on that service's classes, `class` under the
service's own user.
)";

struct Arguments {
    std::vector<std::string> words;            // the command and its operands
    std::map<std::string, std::string> values; // --name value
    bool yes = false, noRateLimits = false, noReplay = false, help = false;
};

Arguments parse(int argc, char** argv)
{
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
            a.help = true;
        else if (arg == "--yes")
            a.yes = true;
        else if (arg == "--no-rate-limits")
            a.noRateLimits = true;
        else if (arg == "--no-replay")
            a.noReplay = true;
        else if (arg == "--data" || arg == "--listen" || arg == "--database" || arg == "--site" || arg == "--url") {
            if (i + 1 >= argc)
                throw std::invalid_argument(arg + " needs a value");
            a.values[arg.substr(2)] = argv[++i];
        } else if (arg.rfind("--", 0) == 0)
            throw std::invalid_argument("unknown option " + arg);
        else
            a.words.push_back(arg);
    }
    // The service's settings (/etc/default/nubora1-server) for the options not given.
    for (const auto& [option, variable] : {std::pair{"listen", "NUBORA1_LISTEN"},
                                           {"url", "NUBORA1_URL"},
                                           {"database", "NUBORA1_DATABASE"},
                                           {"data", "STATE_DIRECTORY"}}) {
        const char* value = std::getenv(variable);
        if (value && *value && !a.values.count(option))
            a.values[option] = value;
    }
    return a;
}

// `sudo nubora1-server class …` on a machine with the service installed: the classes belong to
// the service's dynamic user, in its state folder. The command runs again as a transient
// service with that same identity (while the service runs, both share its user), with the
// service's settings, and its output comes back here; SQLite or PostgreSQL serialises its
// transactions with the running server's.
constexpr const char* serviceUnit = "/lib/systemd/system/nubora1-server.service";
[[noreturn]] void runAsService(int argc, char** argv)
{
    std::vector<std::string> args = {"systemd-run",
                                     "--quiet",
                                     "--wait",
                                     "--pipe",
                                     "--collect",
                                     "--service-type=exec",
                                     "--property=DynamicUser=yes",
                                     "--property=User=nubora1-server",
                                     "--property=StateDirectory=nubora1-server",
                                     "--property=UMask=0077",
                                     "--property=EnvironmentFile=-/etc/default/nubora1-server",
                                     "--"};
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    args.push_back(error ? argv[0] : self.string());
    args.insert(args.end(), argv + 1, argv + argc);
    std::vector<char*> pointers;
    for (std::string& arg : args)
        pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    ::execvp(pointers[0], pointers.data());
    throw std::runtime_error(std::string("cannot run systemd-run: ") + std::strerror(errno));
}

// The same as root where systemd does not run (a container, a chroot): the service's settings
// and state folder, worked on directly as the folder's owner, the service's user, so that the
// database's files stay the service's. A backup is read as root, and written where root may.
void asTheService(Arguments& a)
{
    for (const auto& [name, value] : readEnvironmentFile("/etc/default/nubora1-server"))
        if ((name == "NUBORA1_URL" || name == "NUBORA1_DATABASE") && !value.empty())
            a.values.try_emplace(name == "NUBORA1_URL" ? "url" : "database", value);
    if (a.values.count("database"))
        return;
    a.values["data"] = serviceStateFolder(a.words[0] == "class");
    if (a.words[0] == "class")
        becomeOwnerOf(a.values["data"]);
}

// `backup FILE`: a copy of the SQLite store, taken while the server serves.
int backupCommand(const Arguments& a)
{
    if (a.words.size() != 2)
        throw std::invalid_argument("backup takes one FILE");
    if (a.values.count("database"))
        throw std::invalid_argument("backup copies SQLite; back PostgreSQL up with pg_dump (man nubora1-server)");
    if (!a.values.count("data"))
        throw std::invalid_argument("--data DIR is needed");
    backupSqlite(a.values.at("data"), a.words[1]);
    std::cout << "backed up " << a.values.at("data") << "/nubora1.sqlite into " << a.words[1] << "\n";
    return 0;
}

std::unique_ptr<Store> openStore(const Arguments& a)
{
    if (a.values.count("database"))
        return openPostgresStore(a.values.at("database"));
    if (!a.values.count("data"))
        throw std::invalid_argument("--data DIR (or --database) is needed");
    return openSqliteStore(a.values.at("data"));
}

std::string hostName()
{
    char name[HOST_NAME_MAX + 1] = {};
    return ::gethostname(name, sizeof name - 1) == 0 && name[0] ? name : "localhost";
}

// The base of the links: --url (then remembered), or the one remembered, or the default.
std::string baseUrl(Store& store, const Arguments& a, const std::string& port = "8080")
{
    if (a.values.count("url")) {
        std::string url = a.values.at("url");
        if (url.empty() || url.back() != '/')
            url += '/';
        store.setSetting("url", url);
        return url;
    }
    if (std::optional<std::string> url = store.setting("url"))
        return *url;
    return "http://" + hostName() + ":" + port + "/";
}

// The site: --site, else the one beside the program (admin.h). Said at start-up when there is
// none, for then the pupils' links answer 404.
std::string siteDir(const Arguments& a)
{
    std::error_code error;
    const std::string site = a.values.count("site")
                                 ? a.values.at("site")
                                 : siteBeside(std::filesystem::read_symlink("/proc/self/exe", error).parent_path());
    if (!isSite(site))
        std::cerr << "nubora1-server: "
                  << (site.empty() ? "found no site (make site builds one; --site DIR names one)"
                                   : "--site " + site + " holds no index.html")
                  << ": serving no site, so the pupils' links answer 404\n";
    return site;
}

void printClass(const ClassInfo& c, const std::string& base, bool qr)
{
    std::cout << c.name << "\n"
              << "生徒のリンク: " << pupilsLink(base, c.classKey) << "\n"
              << "先生のリンク: " << teachersLink(base, c.teacherKey) << "\n";
    if (qr)
        std::cout << qrTerminal(pupilsLink(base, c.classKey));
}

int classCommand(const Arguments& a)
{
    const std::string verb = a.words.size() > 1 ? a.words[1] : "";
    if (verb == "add") {
        if (a.words.size() != 3 || a.words[2].empty())
            throw std::invalid_argument("class add takes one NAME");
        const std::unique_ptr<Store> store = openStore(a);
        ClassInfo c{0, a.words[2], newKey(), newKey(), {}};
        store->addClass(c);
        printClass(c, baseUrl(*store, a), true);
        return 0;
    }
    if (verb == "list") {
        const std::unique_ptr<Store> store = openStore(a);
        const std::string base = baseUrl(*store, a);
        for (const ClassInfo& c : store->classes())
            printClass(c, base, false);
        return 0;
    }
    if (verb == "remove") {
        if (a.words.size() != 3)
            throw std::invalid_argument("class remove takes one KEY or NAME");
        const std::unique_ptr<Store> store = openStore(a);
        std::vector<ClassInfo> found;
        for (const ClassInfo& c : store->classes())
            if (c.name == a.words[2] || c.classKey == a.words[2] || c.teacherKey == a.words[2])
                found.push_back(c);
        if (found.empty()) {
            std::cerr << "nubora1-server: no class " << a.words[2] << "\n";
            return 1;
        }
        if (found.size() > 1) {
            std::cerr << "nubora1-server: " << found.size() << " classes are named " << a.words[2]
                      << "; name one by its key\n";
            return 1;
        }
        if (!a.yes) {
            std::cerr << "nubora1-server: removing " << found[0].name
                      << " deletes its lists, entries and history; add --yes to remove it\n";
            return 1;
        }
        store->removeClass(found[0].id);
        std::cout << "removed " << found[0].name << "\n";
        return 0;
    }
    throw std::invalid_argument("class add, class list or class remove");
}

int serve(const Arguments& a)
{
    if (!a.values.count("listen"))
        throw std::invalid_argument("--listen ADDRESS:PORT is needed");
    std::string host = a.values.at("listen");
    const std::size_t colon = host.rfind(':');
    if (colon == std::string::npos)
        throw std::invalid_argument("--listen takes ADDRESS:PORT");
    const int port = std::stoi(host.substr(colon + 1));
    host.resize(colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    std::signal(SIGPIPE, SIG_IGN);

    const std::unique_ptr<Store> store = openStore(a);
    std::optional<HttpServer> http;
    try {
        http.emplace(host, port);
    } catch (const std::system_error& e) {
        std::cerr << "nubora1-server: cannot listen on " << a.values.at("listen") << ": " << e.what() << "\n";
        return 1;
    }
    // The event streams hear of the classes' changes and rounds: from PostgreSQL, every
    // process's; from SQLite, this process's own.
    if (const std::string heardAt = store->changesHeardAt(); !heardAt.empty())
        http->listenToPostgres(heardAt);
    else
        store->hear([&http](std::int64_t classId, ClassEvent what) { http->changed(classId, what); });
    Api api(*store, {siteDir(a), baseUrl(*store, a, std::to_string(http->port())), !a.noRateLimits, !a.noReplay});
    std::cout << "nubora1-server: listening on http://"
              << (host.find(':') != std::string::npos ? "[" + host + "]" : host) << ":" << http->port() << "/"
              << std::endl;
    http->run(api); // until SIGINT or SIGTERM
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        Arguments a = parse(argc, argv);
        if (a.help || a.words.empty() || a.words[0] == "help") {
            std::cout << usage;
            return a.help || !a.words.empty() ? 0 : 2;
        }
        if (a.words[0] == "serve" && a.words.size() == 1)
            return serve(a);
        if ((a.words[0] == "class" || a.words[0] == "backup") && !a.values.count("data") && !a.values.count("database")
            && ::geteuid() == 0 && std::filesystem::exists(serviceUnit)) {
            if (a.words[0] == "class" && std::filesystem::exists("/run/systemd/system"))
                runAsService(argc, argv);
            asTheService(a);
        }
        if (a.words[0] == "class")
            return classCommand(a);
        if (a.words[0] == "backup")
            return backupCommand(a);
        throw std::invalid_argument("unknown command " + a.words[0]);
    } catch (const std::invalid_argument& e) {
        std::cerr << "nubora1-server: " << e.what() << "\n(nubora1-server --help lists the commands)\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "nubora1-server: " << e.what() << "\n";
        return 1;
    }
}

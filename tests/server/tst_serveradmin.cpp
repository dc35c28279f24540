// SPDX-License-Identifier: GPL-3.0-or-later
// The class server as its administrator meets it: the site it finds or says it lacks, the
// policy its pages are served under (no frame of another site), and the class's QR code as a
// terminal shows it. The real nubora1-server (NUBORA_SERVER), run from a
// copy in a folder of the test's where the site's place matters.
#include "server_fixture.h"

#include "server/store.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

using namespace serverfixture;

namespace {

// `serve` of the program at `path` on a loopback port, its standard error kept apart: the port
// once it listens (0 when it never does), and what it said on standard error by then.
struct Serving {
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    int port = 0;
    QString errors;
    ~Serving()
    {
        process->kill();
        process->waitForFinished(30000);
    }
};
void serve(Serving& s, const QString& path, const QStringList& args)
{
    s.process->start(path, QStringList{"serve", "--listen", "127.0.0.1:0"} + args);
    QByteArray out;
    while (!s.port && s.process->waitForReadyRead(30000)) {
        out += s.process->readAllStandardOutput();
        const QRegularExpressionMatch m = QRegularExpression("listening on http://127.0.0.1:(\\d+)/").match(out);
        s.port = m.hasMatch() ? m.captured(1).toInt() : 0;
    }
    s.errors = QString::fromUtf8(s.process->readAllStandardError());
}

// What a terminal shows of `text` (SGR 0, 30 and 47 understood; two rows of pixels a cell,
// as the half blocks split it), as a PGM picture scaled 4 times for a QR decoder, with the
// terminal's own colours `foreground` on `background` where none is set.
QByteArray terminalPicture(const QString& text, int foreground, int background)
{
    std::vector<std::vector<int>> rows;
    for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) {
        std::vector<int> top, bottom;
        int fg = foreground, bg = background;
        for (qsizetype i = 0; i < line.size(); ++i) {
            if (line[i] == '\x1b') {
                const qsizetype end = line.indexOf('m', i);
                for (const QString& code : line.mid(i + 2, end - i - 2).split(';')) {
                    if (code.isEmpty() || code == "0")
                        fg = foreground, bg = background;
                    else if (code == "30")
                        fg = 0;
                    else if (code == "47")
                        bg = 229; // xterm's white, a light grey
                }
                i = end;
                continue;
            }
            top.push_back(line[i] == QChar(0x2588) || line[i] == QChar(0x2580) ? fg : bg);
            bottom.push_back(line[i] == QChar(0x2588) || line[i] == QChar(0x2584) ? fg : bg);
        }
        rows.push_back(top), rows.push_back(bottom);
    }
    const int scale = 4, width = int(rows.at(0).size());
    QByteArray pgm =
        "P5 " + QByteArray::number(width * scale) + " " + QByteArray::number(int(rows.size()) * scale) + " 255\n";
    for (const std::vector<int>& row : rows)
        for (int copy = 0; copy < scale; ++copy)
            for (const int pixel : row)
                pgm += QByteArray(scale, char(pixel));
    return pgm;
}

} // namespace

class ServerAdminTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> data;

private slots:
    void initTestCase() { QVERIFY2(!program().isEmpty(), "NUBORA_SERVER names no nubora1-server (CTest sets it)"); }
    void init() { data = std::make_unique<QTemporaryDir>(); }

    // Guards against the server losing its own database locks: a backup and a `class remove`
    // run while it serves, each closing its connections, and the server must then see the
    // removal (it served the removed class from a WAL taken from under it) and keep its WAL.
    void classRemovedWhileServingIsGone()
    {
        const QStringList store{"--data", data->path()};
        const ClassKeys keys = addClass(store, "３年２組");
        ServerProcess server(store);
        QVERIFY(server.start());
        QCOMPARE(save(server.port, keys, "admin-save-1", 1, 30, "t", "10.6.0.1", "admin-device").status, 200);
        QCOMPARE(::server::openSqliteStore(data->path().toStdString())->games(1, "").size(), std::size_t(1));
        QVERIFY(command(QStringList{"backup", data->filePath("copy.sqlite")} + store));
        QVERIFY(command(QStringList{"class", "remove", "３年２組", "--yes"} + store));
        QCOMPARE(request(server.port, "GET", "/api/v1/classes/" + keys.pupils).status, 404);
        QVERIFY(QFile::exists(data->filePath("nubora1.sqlite-wal")));
        // The class's games (the saved entry's) went with it.
        QCOMPARE(::server::openSqliteStore(data->path().toStdString())->games(1, "").size(), std::size_t(0));
    }

    // Guards against the pupils' links answering 404 with nothing said: the server finds the
    // site `make site` or `make web` made in a folder above it (here a copy of the program in a
    // folder of the test's), and says on standard error when it serves none.
    void siteIsFoundOrSaidMissing_data()
    {
        QTest::addColumn<QString>("site");   // index.html's path under the folder above the program
        QTest::addColumn<QString>("option"); // --site's value, under the same folder
        QTest::addColumn<bool>("served");
        QTest::addColumn<QString>("said");
        QTest::newRow("make site's folder") << "build-site/nubora1-web-" NUBORA1_VERSION "/index.html"
                                            << "" << true << "";
        QTest::newRow("make web's folder") << "build-web/index.html"
                                           << "" << true << "";
        QTest::newRow("another version's site") << "build-site/nubora1-web-0.1/index.html"
                                                << "" << false << "found no site";
        QTest::newRow("no site") << ""
                                 << "" << false << "found no site";
        QTest::newRow("--site without index.html") << "build-web/index.html"
                                                   << "empty" << false << "holds no index.html";
    }
    void siteIsFoundOrSaidMissing()
    {
        QFETCH(QString, site);
        QFETCH(QString, option);
        QFETCH(bool, served);
        QFETCH(QString, said);
        const QDir top(data->path());
        QVERIFY(top.mkpath("build") && top.mkpath("empty"));
        const QString copy = top.filePath("build/nubora1-server");
        QVERIFY(QFile::copy(program(), copy));
        QVERIFY(QFile::setPermissions(copy, QFile::ReadOwner | QFile::ExeOwner));
        if (!site.isEmpty()) {
            QVERIFY(top.mkpath(QFileInfo(site).path()));
            QFile page(top.filePath(site));
            QVERIFY(page.open(QIODevice::WriteOnly) && page.write("<title>nubora1</title>") > 0);
        }
        const ClassKeys keys = addClass({"--data", top.filePath("classes")}, "３年２組");
        Serving server;
        serve(server, copy,
              QStringList{"--data", top.filePath("classes")}
                  + (option.isEmpty() ? QStringList{} : QStringList{"--site", top.filePath(option)}));
        QVERIFY2(server.port, qPrintable(server.errors));
        const Answer page = request(server.port, "GET", "/c/" + keys.pupils + "/");
        QCOMPARE(page.status, served ? 200 : 404);
        QCOMPARE(page.body == "<title>nubora1</title>", served);
        QVERIFY2(said.isEmpty() ? !server.errors.contains("site") : server.errors.contains(said),
                 qPrintable(server.errors));
    }

    // Guards against a QR code that scans on one terminal only: `class add`'s code, drawn as a
    // dark and a light terminal show it, decodes to the pupils' link, and keeps its light
    // quiet zone of 4 modules (2 lines, 4 columns) on both.
    void terminalCodeScansOnLightAndDarkTerminals_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<int>("foreground"); // the terminal's own colours
        QTest::addColumn<int>("background");
        QTest::newRow("dark terminal") << "http://school.test/" << 229 << 0;
        QTest::newRow("light terminal") << "http://school.test/" << 0 << 255;
        QTest::newRow("light terminal, long link") << "https://nubora.school.example/mathematics/3nen/" << 40 << 250;
        QTest::newRow("dark terminal, long link") << "https://nubora.school.example/mathematics/3nen/" << 255 << 30;
    }
    void terminalCodeScansOnLightAndDarkTerminals()
    {
        QFETCH(QString, base);
        QFETCH(int, foreground);
        QFETCH(int, background);
        QVERIFY2(!QStandardPaths::findExecutable("zbarimg").isEmpty(),
                 "no zbarimg (zbar-tools; scripts/setup.sh --tests)");
        const std::optional<QString> out =
            command(QStringList{"class", "add", "３年２組", "--url", base} + QStringList{"--data", data->path()});
        QVERIFY(out);
        const qsizetype link = out->indexOf("生徒のリンク: "),
                        code = out->indexOf('\n', out->indexOf("先生のリンク: ")) + 1;
        QVERIFY(link >= 0 && code > 0);
        const QString pupils = out->mid(link + 8, out->indexOf('\n', link) - link - 8);
        QVERIFY(pupils.startsWith(base + "c/"));
        const QByteArray pgm = terminalPicture(out->mid(code), foreground, background);
        const QList<QByteArray> header = pgm.left(pgm.indexOf('\n')).split(' ');
        const int width = header[1].toInt(), height = header[2].toInt(), start = int(pgm.indexOf('\n')) + 1;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (y < 16 || y >= height - 16 || x < 16 || x >= width - 16) // the quiet zone: 4 modules of 4 pixels
                    QVERIFY2(uchar(pgm[start + y * width + x]) > 200,
                             qPrintable(QString("dark at %1,%2").arg(x).arg(y)));
        QProcess zbar;
        zbar.start("zbarimg", {"--raw", "-q", "-"});
        zbar.write(pgm);
        zbar.closeWriteChannel();
        QVERIFY(zbar.waitForFinished(60000));
        QCOMPARE(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed(), pupils);
    }

    // Guards against a page of the server shown inside another site's frame, and against a
    // policy that would stop the game's own inline script or style: every page says so, by its
    // policy and by X-Frame-Options, and the site's policy names the hash of each inline script
    // and style (the single-file page has both).
    void pagesForbidFraming_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("the site") << "/";
        QTest::newRow("a class link") << "/c/KEY/";
        QTest::newRow("a class link's style") << "/c/KEY/style.css";
        QTest::newRow("the teacher's page") << "/t/KEY/";
    }
    void pagesForbidFraming()
    {
        QFETCH(QString, path);
        const QStringList store{"--data", data->path()};
        const ClassKeys keys = addClass(store, "３年２組");
        QTemporaryDir site;
        const QByteArray script = "\nglobalThis.started = 1;\n", css = "\nbody { color: green; }\n";
        QFile index(site.filePath("index.html")), style(site.filePath("style.css"));
        QVERIFY(index.open(QIODevice::WriteOnly) && style.open(QIODevice::WriteOnly));
        index.write("<!DOCTYPE html><style>" + css + "</style><script src=\"main.js\"></script><script>" + script
                    + "</script>");
        index.close();
        style.write("body {}");
        style.close();
        ServerProcess server(store, site.path());
        QVERIFY(server.start());
        const bool teacher = path.startsWith("/t/");
        const Answer a =
            request(server.port, "GET",
                    path.replace("KEY", QString::fromStdString(teacher ? keys.teacher : keys.pupils)).toStdString());
        QCOMPARE(a.status, 200);
        const QString policy = QString::fromStdString(header(a, "Content-Security-Policy"));
        QVERIFY2(policy.contains("frame-ancestors 'none'"), qPrintable(policy));
        QCOMPARE(header(a, "X-Frame-Options"), std::string("DENY"));
        if (teacher || !path.endsWith('/'))
            return;
        auto directive = [&](const QString& name) {
            for (const QString& d : policy.split(';'))
                if (d.trimmed().startsWith(name + ' '))
                    return d.trimmed();
            return QString();
        };
        auto hash = [](const QByteArray& text) {
            return "'sha256-" + QCryptographicHash::hash(text, QCryptographicHash::Sha256).toBase64() + "'";
        };
        QVERIFY2(directive("script-src").contains(hash(script)) && directive("script-src").count("'sha256-") == 1,
                 qPrintable(policy));
        QVERIFY2(directive("style-src").contains(hash(css)), qPrintable(policy));
    }
};

QTEST_GUILESS_MAIN(ServerAdminTest)
#include "tst_serveradmin.moc"

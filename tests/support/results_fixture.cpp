// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/results_fixture.h"

#include "rules/module1.h"
#include "support/ranking_bytes.h"
#include "windows/design.h"

#include <QApplication>
#include <QTest>

namespace resultsfixture {

QByteArray rangeRecords(const QList<int>& scores)
{
    QByteArray bytes;
    for (int p = 0; p < 5; ++p)
        bytes += rankingbytes::record(QByteArray(1, char('A' + p)), scores[p]);
    return bytes;
}

QByteArray fileWithRange2(const QList<int>& scores)
{
    return rangeRecords({9, 8, 7, 6, 5}) + rangeRecords({19, 18, 17, 16, 15}) + rangeRecords(scores)
           + rangeRecords({29, 28, 27, 26, 25}) + rankingbytes::record("r21", 21) + rankingbytes::blankRecords(54);
}

QStringList captions(const ui::ControlArray<ui::Label>& array)
{
    QStringList list;
    array.forEach([&list](std::int16_t, ui::Label& label) { list << label.caption(); });
    return list;
}

} // namespace resultsfixture

void ResultsFixture::initTestCase()
{
    windows::initApplication(*qApp);
}

void ResultsFixture::init()
{
    dir = std::make_unique<ProgramDir>();
    QVERIFY(dir->isValid());
    wiring = std::make_unique<app::Windows>(dir->options());
    Module1::reset();
    fake = std::make_unique<FakeServices>();
}

void ResultsFixture::cleanup()
{
    wiring.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    fake.reset();
}

QByteArray ResultsFixture::fileBytes() const
{
    return rankingbytes::readFile(rankingPath());
}

void ResultsFixture::writeRanking(const QByteArray& bytes)
{
    QVERIFY(rankingbytes::writeFile(rankingPath(), bytes));
}

Form3& ResultsFixture::openResults(int tensu, int hani)
{
    Module1::tensu = static_cast<std::int16_t>(tensu);
    Module1::hani = static_cast<std::int16_t>(hani);
    wiring->showResults(false);
    return wiring->form3();
}

void ResultsFixture::typeThenSaveOrClear(Form3& form, const QString& name, bool clearing)
{
    QTest::keyClicks(form.Text1, name);
    if (!clearing)
        return QTest::keyClick(form.Text1, Qt::Key_Return);
    fake->answers.push_back(ui::Answer::Ok);
    QTest::mouseClick(form.Command2, Qt::LeftButton);
}

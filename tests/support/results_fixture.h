// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/windows.h"
#include "results/form3.h"
#include "support/fake_services.h"
#include "support/program_dir.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QStringList>

#include <memory>

namespace resultsfixture {

// The five records of one range, named A to E, with the given scores.
QByteArray rangeRecords(const QList<int>& scores);

// A full 900-byte file with the given scores in range 2 and other ranges filled too.
QByteArray fileWithRange2(const QList<int>& scores);

// The captions of a row of labels, in the order of their indexes.
QStringList captions(const ui::ControlArray<ui::Label>& array);

} // namespace resultsfixture

// The results window opened as the program opens it, on a ranking file in a fresh temporary
// directory, with FakeServices in place and the shared state at its start-up values, for each
// test function and each row of its data. A test class derives from it.
class ResultsFixture : public QObject {
    Q_OBJECT

protected slots:
    void initTestCase();
    void init();
    void cleanup();

protected:
    QString rankingPath() const { return dir->programFile(); }
    QByteArray fileBytes() const;
    void writeRanking(const QByteArray& bytes);
    // The window with the score tensu in range hani, as the menu opens it (not modal).
    Form3& openResults(int tensu, int hani);
    // Types `name` into the name box, then clears the lists (初期化, answered OK) or saves (Enter).
    void typeThenSaveOrClear(Form3& form, const QString& name, bool clearing);

    std::unique_ptr<ProgramDir> dir;
    std::unique_ptr<FakeServices> fake;
    std::unique_ptr<app::Windows> wiring;
    const QByteArray usual = resultsfixture::fileWithRange2({50, 40, 30, 20, 10}); // five entries in range 2
};

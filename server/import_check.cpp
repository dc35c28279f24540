// SPDX-License-Identifier: GPL-3.0-or-later
#include "server/import_check.h"

#include "server/api.h"

#include "rules/name_box.h"
#include "rules/ranking.h"

namespace server {

namespace {

const std::string notRanking = "nubora1 の成績ファイル（tavon.rnk）を選んでください。";

ImportRefusal refused(int status, const std::string& what)
{
    return {status, what + notRanking};
}

} // namespace

std::optional<ImportRefusal> importRefusal(std::string_view file)
{
    const std::string size = std::to_string(file.size());
    if (file.empty())
        return refused(400, "ファイルが空です。");
    if (file.size() > results::savedBytes)
        return refused(413, "ファイルが大きすぎます（" + size + " バイト）。成績ファイルは 900 バイトです。");
    if (file.size() % results::recordBytes != 0)
        return refused(400, "ファイルの大きさ（" + size + " バイト）が成績ファイルのものではありません。");
    for (std::size_t at = 0; at < file.size(); at += results::recordBytes) {
        const Module1::seiseki record = results::unpackRecord(file.substr(at, results::recordBytes));
        const std::string number = std::to_string(at / results::recordBytes + 1) + " 番目の記録";
        if (record.kiroku < 0 || record.kiroku > maxScore)
            return refused(400, number + "の得点（" + std::to_string(record.kiroku)
                                    + "）が 0 点から 50 点の間にありません。");
        const std::u16string name = results::decodeName(record.simei);
        if (name.find(u'\uFFFD') != std::u16string::npos || results::nameFault(name) != results::NameFault::none)
            return refused(400, number + "の名前に、名前の文字でないものがあります。");
    }
    return std::nullopt;
}

} // namespace server

// SPDX-License-Identifier: GPL-3.0-or-later
// The queue rule of a class's entries, and its words.
#include "rules/class_queue.h"

namespace classqueue {

Fate fateOf(int status, Body body)
{
    if (status == 200 && body == Body::serverJson)
        return Fate::stored;
    if (body != Body::serverError)
        return Fate::waiting;
    switch (status) {
    case 400: // malformed: a name, range or score the server does not take
    case 403: // forbidden: the class does not take entries from pupils
    case 404: // the class is unknown
    case 409: // in conflict with what the server holds
    case 413: // too large
    case 422: // well-formed but refused
        return Fate::refused;
    default: return Fate::waiting;
    }
}

const MessageText saveWaiting{u"成績はこの機器に預けてあります。\rクラスにつながったときに送ります。", u"保存"};

const MessageText clearTeacherOnly{u"このクラスの一覧は、先生だけが消せます。", u"初期化"};

MessageText saveRefused(int status, bool keptOnDevice)
{
    std::u16string text = u"この成績はクラスの一覧に入れられませんでした。";
    switch (status) {
    case 400: text += u"\r名前か点数を、クラスのサーバーが受け付けませんでした。"; break;
    case 422: text += u"\rこのゲームは、クラスのサーバーで確かめられませんでした。"; break;
    case 404: text += u"\rこのクラスは、クラスのサーバーにありません。"; break;
    case 403: text += u"\rこのクラスは、今は成績を受け付けていません。"; break;
    default: break;
    }
    if (keptOnDevice)
        text += u"\rこの機器の一覧には残っています。";
    return {text, u"保存"};
}

} // namespace classqueue

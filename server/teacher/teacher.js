// SPDX-License-Identifier: GPL-3.0-or-later
// The teacher's page of one class: its link and QR code, its lists, every saved entry, and the
// lists as they stood before each 初期化 or import, with a way to put them back (with every
// entry saved since entered again), a way to take one entry out of the lists and put it back,
// and whether pupils' 初期化 clears the lists. Everything the server sends is shown as text,
// never as markup.
const key = location.pathname.replace(/\/(index\.html)?$/, "").split("/").pop();
const api = new URL(`../../api/v1/teachers/${key}`, location.href);
const $ = (id) => document.getElementById(id);
const whats = { blank: "初期化", import: "読み込み", restore: "復元" };

function element(tag, text, className) {
    const e = document.createElement(tag);
    if (text !== undefined)
        e.textContent = text;
    if (className)
        e.className = className;
    return e;
}

function row(cells) {
    const tr = element("tr");
    for (const [text, className] of cells)
        tr.append(element("td", String(text), className));
    return tr;
}

function listsTables(lists) {
    const box = element("div", undefined, "lists");
    for (const list of lists) {
        const table = element("table");
        table.append(element("caption", list.range));
        const body = element("tbody");
        for (const r of list.rows)
            body.append(row([[r.place], [r.name], [r.score, "score"]]));
        table.append(body);
        box.append(table);
    }
    return box;
}

async function post(path, body, type) {
    const response = await fetch(`${api}/${path}`, { method: "POST", body, headers: { "Content-Type": type } });
    if (!response.ok)
        throw new Error((await response.json().catch(() => ({}))).error || response.statusText);
    return response.json();
}

async function show() {
    const response = await fetch(api, { cache: "no-store" });
    if (!response.ok) {
        $("status").textContent = "クラスを読み込めませんでした。";
        return;
    }
    const c = await response.json();
    document.title = `${c.name} - nubora1`;
    $("name").textContent = c.name;
    $("link").textContent = c.link;
    $("link").href = c.link;
    $("qr").src = `${api}/qr.svg`;
    $("rnk").href = `${api}/tavon.rnk`;
    $("csv").href = `${api}/entries.csv`;
    $("lists").replaceChildren(...listsTables(c.lists).children);
    $("entries").replaceChildren(...c.entries.map((e) => entryRow(c, e)));
    showSettings(c.settings);
    $("history").replaceChildren(...c.history.slice().reverse().map((h) => {
        const past = element("div", undefined, "past");
        past.append(element("h3", `${h.time} ${whats[h.what] || h.what}の前`), listsTables(h.lists));
        const back = element("button", "この一覧に戻す");
        back.addEventListener("click", () => act(() => post("restore", JSON.stringify({ history: h.number }), "application/json"),
                                                 "今の一覧をこの一覧に戻しますか？（このあとに保存された記録は入れ直されます）"));
        past.append(back);
        return past;
    }));
    $("status").textContent = "";
}

// An entry of the table with its button: 取り消す takes it out of the lists
// (the entries below move up), 戻す puts a removed one back. It stays in the table either way.
function entryRow(c, e) {
    const range = c.lists[e.range] ? c.lists[e.range].range : e.range;
    const tr = row([[e.time], [range], [e.score, "score"], [e.name]]);
    const cell = element("td");
    if (e.removed) {
        tr.className = "removed";
        cell.append(element("span", "取り消し済み "));
    }
    const button = element("button", e.removed ? "戻す" : "取り消す");
    const question = e.removed
        ? `${e.name} さんの ${e.score} 点を一覧に戻しますか？`
        : `${e.name} さんの ${e.score} 点を一覧から取り消しますか？（下の記録が上がります。記録と CSV には残ります）`;
    button.addEventListener("click", () =>
        act(() => post(e.removed ? "reinstate" : "remove", JSON.stringify({ id: e.id }), "application/json"), question));
    cell.append(button);
    tr.append(cell);
    return tr;
}

// The class's settings: whether a pupil's 初期化 clears the class's lists.
function showSettings(settings) {
    const box = $("pupils-blank");
    box.checked = !settings || settings.pupilsBlank !== false;
    box.disabled = false;
}

$("pupils-blank").addEventListener("change", async (event) => {
    const box = event.target;
    box.disabled = true;
    try {
        await post("settings", JSON.stringify({ pupilsBlank: box.checked }), "application/json");
    } catch (error) {
        box.checked = !box.checked;
        box.disabled = false;
        $("status").textContent = `設定を変えられませんでした: ${error.message}`;
        return;
    }
    await show();
});

async function act(change, question) {
    if (!confirm(question))
        return;
    try {
        await change();
    } catch (error) {
        $("status").textContent = `できませんでした: ${error.message}`;
        return;
    }
    await show();
}

// A file is loaded only after the teacher has seen the lists it holds: the server checks it
// (import/check) and shows them, or says why it is no ranking file; 読み込む loads it.
let chosen = null;
function closePreview() {
    chosen = null;
    $("preview").hidden = true;
    $("preview-lists").replaceChildren();
}
$("import").addEventListener("change", async (event) => {
    const file = event.target.files[0];
    event.target.value = "";
    closePreview();
    if (!file)
        return;
    const bytes = await file.arrayBuffer();
    let checked;
    try {
        checked = await post("import/check", bytes, "application/octet-stream");
    } catch (error) {
        $("status").textContent = `${file.name} は読み込めません: ${error.message}`;
        return;
    }
    chosen = bytes;
    $("status").textContent = "";
    $("preview-heading").textContent = `${file.name} の一覧（読み込むと今の一覧と置き換わります。今の一覧は履歴に残ります）`;
    $("preview-lists").replaceChildren(...listsTables(checked.lists).children);
    $("preview").hidden = false;
    $("load").focus();
});
$("load").addEventListener("click", async () => {
    const bytes = chosen;
    closePreview();
    if (!bytes)
        return;
    try {
        await post("import", bytes, "application/octet-stream");
    } catch (error) {
        $("status").textContent = `できませんでした: ${error.message}`;
        return;
    }
    await show();
});
$("cancel").addEventListener("click", closePreview);
show();

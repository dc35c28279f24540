// SPDX-License-Identifier: GPL-3.0-or-later
// The three windows as designed: every control's place and size in twips (15 to a CSS pixel
// at scale 1), its colours and its font in points, as the desktop's design files have them.
// Captions that the game changes come from the game library; these are the designed ones.

export const twipsPerPixel = 15;
export const px = (twips) => Math.round(twips / twipsPerPixel);
// Font sizes are whole pixels at 96 dots per inch.
export const fontPx = (points) => Math.round((points * 96) / 72);

const white = '#ffffff', blue = '#0000ff', navy = '#000080', yellow = '#ffff00';
const paleGreen = '#80ff80';

// kind: label | button | frame | line | text | table; rect: left, top, width, height (twips);
// look: points, bold, text colour, back colour, align; autoSize: the width follows the text.
const label = (name, caption, rect, look, extra = {}) => ({ kind: 'label', name, caption, rect, look, ...extra });
const button = (name, caption, rect, look = {}, extra = {}) => ({ kind: 'button', name, caption, rect, look, ...extra });
const line = (name, from, to, width, colour) => ({ kind: 'line', name, from, to, width, colour });

const cellLook = { points: 27.75, bold: true, text: white, back: blue, align: 'center' };

export const form1 = {
  name: 'Form1',
  caption: 'ヌボラ1（m.Tarvo)',
  client: [8700, 6015],
  back: '#008000',
  points: 13.5,
  controls: [
    // The table's heading column and its two rows of cells (mondai(0..4) over mondai(5..9)).
    {
      kind: 'table', name: 'taiouhyou', caption: '対応表',
      headers: [
        label('Label1', 'ｘ', [2280, 120, 855, 975], { points: 48, bold: true, text: white, back: blue, align: 'center' }),
        label('Label2', 'ｙ', [2280, 1080, 855, 975], { points: 48, bold: true, text: white, back: blue, align: 'center' }),
      ],
      cells: Array.from({ length: 10 }, (_, i) =>
        label(`mondai${i}`, '', [3120 + 1080 * (i % 5), i < 5 ? 360 : 1320, 1095, 735], cellLook)),
    },
    label('Label3', '', [3120, 120, 5415, 255], { back: blue }, { decoration: true }),
    label('Label4', '', [3120, 1080, 5415, 255], { back: blue }, { decoration: true }),
    ...Array.from({ length: 5 }, (_, i) =>
      label(`bango${i}`, String(i + 1), [120, 120 + 360 * i, 255, 375], { points: 20.25, bold: true, text: white, back: navy })),
    ...Array.from({ length: 5 }, (_, i) =>
      label(`sikiyo${i}`, '', [480, 120 + 360 * i, 375, 375], { points: 15.75, bold: true, back: yellow },
        { description: `第${i + 1}問の結果` })),
    label('monbang', '番  号', [960, 120, 1215, 435], { points: 21.75, bold: true, text: blue, back: '#ff0000' },
      { autoSize: true, description: '今の問題' }),
    label('tokuten', '点', [120, 2160, 2655, 2415], { points: 120, bold: true, text: '#00ff00', back: '#004000' },
      { description: 'この問題の残りの点' }),
    // Keyboard order: Command1, Command3, Command5, tokutenyo, helpyo, then the answers.
    button('Command1', 'スタート', [2880, 4680, 2055, 855], { points: 21.75, bold: true }),
    button('Command3', 'ｘの値の表示・変更', [5160, 4680, 2175, 495], { points: 12 }),
    button('Command5', '終了', [7080, 5280, 1455, 615], { points: 18, bold: true }),
    button('tokutenyo', '得点', [120, 4680, 2655, 1215], { points: 48 }, { description: '今のゲームの得点' }),
    button('helpyo', '説明', [7560, 4680, 975, 495]),
    {
      kind: 'frame', name: 'Frame1', caption: 'ｘとｙの関係は？', rect: [2880, 2160, 5655, 2415],
      look: { points: 20.25, bold: true, text: '#0000c0', back: '#ff8000' },
      controls: [
        button('kotae0', 'ｙはｘに比例', [360, 600, 2415, 495]),
        button('kotae1', 'ｙはｘに反比例', [3000, 600, 2415, 495]),
        button('kotae2', 'ｙはｘの一次関数', [360, 1200, 2415, 495]),
        button('kotae3', 'ｙはｘの２乗に比例', [3000, 1200, 2415, 495]),
        button('kotae4', '上の３つには，あてはまらない関係', [1200, 1800, 4215, 495]),
      ],
    },
    // Lines last: they lie above the labels they cross.
    line('Line1', [2280, 1200], [8520, 1200], 5, white),
    line('Line2', [3120, 120], [3120, 2040], 5, white),
  ],
  // The menu bar: titles and items; '-' is a separator, range items carry a check mark.
  menus: [
    { name: 'm1', caption: 'ゲーム', items: [['m1a', 'スタート'], '-', ['m1c', '一覧'], '-', ['m1d', '終了']] },
    { name: 'm4', caption: 'ｘの値', ranges: true, items: [] },
    { name: 'm5', caption: 'ヘルプ', items: [['m5c', '説明']] },
  ],
};

const placeLook = { points: 15.75, bold: true, back: paleGreen, align: 'center' };
const scoreLook = { points: 15.75, bold: true, back: paleGreen, align: 'right' };

// The results window: no window font of its own (初期化 and 今回の記録 use the user-interface
// font, 9 points of the same face). Rows 1 to 4 of the lists are copies of row 0, 30 px apart.
export const form3 = {
  name: 'Form3',
  caption: 'ヌボラ1(m.Tarvo)',
  client: [4080, 6270],
  back: paleGreen,
  points: 9,
  rowPixels: 30,
  controls: [
    label('Label1', '成績一覧', [120, 120, 1695, 405], { points: 20.25, bold: true, text: '#ff0000', back: '#008000' }, { autoSize: true }),
    label('Label4', 'ｘの値', [600, 600, 720, 285], { points: 14.25, text: '#0000c0', back: paleGreen }, { autoSize: true }),
    label('enz0', '', [1560, 600, 1695, 255], { points: 13.5, back: paleGreen, align: 'center' }),
    { kind: 'rows', name: 'best', caption: '成績一覧', count: 5, columns: [
      label('jyun', '', [240, 1200, 372, 372], placeLook),
      label('namae', '', [960, 1200, 1935, 375], { points: 13.5, back: paleGreen }),
      label('jikan', '', [3120, 1200, 615, 375], scoreLook),
    ] },
    line('Line2', [120, 3600], [3960, 3600], 1, '#000000'),
    line('Line1', [120, 3720], [3960, 3720], 1, '#000000'),
    label('Label3', 'あなたの記録', [120, 3840, 1920, 315], { points: 15.75, bold: true, text: blue, back: '#00ffff' }, { autoSize: true }),
    { kind: 'rows', name: 'run', caption: 'あなたの記録', count: 3, columns: [
      label('jyun1', '1', [2400, 3840, 375, 375], placeLook),
      label('jikan1', '', [3120, 3840, 615, 375], scoreLook),
    ] },
    label('Label2', '今回の記録', [240, 4440, 972, 252], { text: '#ff0000', back: paleGreen }),
    label('jikan9', '', [480, 4800, 855, 375], scoreLook),
    line('Line3', [120, 5280], [3960, 5280], 1, '#000000'),
    label('Label6', '', [120, 5400, 3852, 372], { points: 12, text: '#004040', back: paleGreen }),
    // Keyboard order: the name box, 戻る, 初期化.
    { kind: 'text', name: 'Text1', rect: [1320, 5760, 1815, 405], look: { points: 13.5, back: '#8080ff' } },
    button('Command1', '戻る', [3240, 5760, 732, 372], { points: 10.5 }),
    button('Command2', '初期化', [3240, 120, 732, 372]),
  ],
};

const helpBody = { points: 14.25, text: '#000000', back: '#00ff00' };

export const form2 = {
  name: 'Form2',
  caption: 'ヌボラ1(m.Tarvo)',
  client: [6090, 6645],
  back: '#0000ff',
  points: 9,
  controls: [
    label('Label2', '　 中学校３年間の「関数関係」を  対応表から見つけるゲーム感覚の学習ソフトです。',
      [360, 240, 5550, 1095], { points: 18, bold: true, text: '#ff0000', back: '#00ffff' }, { wrap: true }),
    label('Label3', '　 「スタート」ボタンをクリックすると，対応表が表示されます。  そこで，ｘとｙの関係を見つけ，' +
      '下のあてはまる関数関係をクリックします。   正解かどうかは，上のリストに○×で表示されます。' +
      '５問解いたら終わりです。', [360, 1560, 5535, 1455], helpBody, { wrap: true }),
    label('Label4', '　 問題が表示されたら，１０→９→８・・・と点数が下がっていきます。速く正解すると得点は高いです。' +
      '５問解いたあと，得点の一覧表が表示されます。Ｂｅｓｔ５に入ると，名前が登録できます。' +
      'その後，「スタート」ボタンをクリックすると再開されます。', [360, 3240, 5535, 1815], helpBody, { wrap: true }),
    label('Label6', '  ｘの値は，【－２～２】【１～５】【－５～－１】【ランダム】の場合があります。',
      [360, 5280, 5535, 615], { ...helpBody, text: undefined }, { wrap: true }),
    button('Command1', '戻る', [4680, 6000, 1095, 540], { points: 12 }),
  ],
};

#include "ui/dir_list_dlg.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>
#include <cstdint>

#include "platform/start_with_desktop.h"
#include "store/watch_entry.h"
#include "ui/dialog_units.h"
#include "ui/prompts.h"

namespace tavren::ui {
namespace {

const QString kRunningCaption = QStringLiteral("実  行  中");
const QString kStoppedCaption = QStringLiteral("停  止  中");

QString FromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

QString LineText(const store::SlotImage& image) {
    const store::Slot slot = store::DecodeSlot(image);
    return (slot.running ? QStringLiteral("【実行中】 ") : QStringLiteral("【停止中】 ")) +
           FromUtf8(slot.entry.title);
}

void SetRunning(store::SlotImage& image, bool running) {
    image.running[0] = running ? 1 : 0;
    image.running[1] = 0;
}

EditorValues ToEditor(const store::WatchEntry& e) {
    EditorValues v;
    v.title = FromUtf8(e.title);
    v.folder = FromUtf8(e.folder);
    v.program = FromUtf8(e.program);
    v.openFile = e.openFile != 0 ? 1 : 0;
    v.waitExit = e.waitExit != 0 ? 1 : 0;
    v.fileMode = e.fileMode;
    v.timing = e.timing;
    v.afterMode = e.afterMode;
    v.messageMode = e.messageMode;
    v.soundMode = e.soundMode;
    v.overwrite = e.overwrite;
    v.pattern = FromUtf8(e.pattern);
    v.moveTo = FromUtf8(e.moveTo);
    v.waveFile = FromUtf8(e.waveFile);
    return v;
}

// Fills `image` from the editor's values as a running entry. The integers
// are narrowed to the file's 16 bits; the strings are bounded to their
// fields by EncodeSlot.
store::Status FillSlot(const EditorValues& v, store::SlotImage& image) {
    store::Slot slot;
    slot.running = true;
    store::WatchEntry& e = slot.entry;
    e.fileMode = static_cast<std::int16_t>(v.fileMode);
    e.timing = static_cast<std::int16_t>(v.timing);
    e.messageMode = static_cast<std::int16_t>(v.messageMode);
    e.soundMode = static_cast<std::int16_t>(v.soundMode);
    e.afterMode = static_cast<std::int16_t>(v.afterMode);
    e.openFile = v.openFile != 0 ? 1 : 0;
    e.waitExit = v.waitExit != 0 ? 1 : 0;
    e.overwrite = static_cast<std::int16_t>(v.overwrite);
    e.title = v.title.toStdString();
    e.folder = v.folder.toStdString();
    e.pattern = v.pattern.toStdString();
    e.program = v.program.toStdString();
    e.moveTo = v.moveTo.toStdString();
    e.waveFile = v.waveFile.toStdString();
    return store::EncodeSlot(slot, image);
}

QPushButton* Button(QWidget* parent, const DialogUnits& du, int id, const QString& text, int y) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QStringLiteral("button%1").arg(id));
    du.Place(button, 223, y, 50, 16);
    return button;
}

QLabel* Static(QWidget* parent, const DialogUnits& du, const QString& name, int x, int y, int w) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    // Folder and program names are shown as they are, never as markup.
    label->setTextFormat(Qt::PlainText);
    du.Place(label, x, y, w, 8);
    return label;
}

}  // namespace

CDirListDlg::CDirListDlg(const store::DataFolder& dataFolder, QWidget* parent, EntryEditor editor)
    : QDialog(parent), data_(dataFolder), editor_(std::move(editor)) {
    setObjectName(QStringLiteral("dialog132"));
    setWindowTitle(QStringLiteral("監視フォルダ リスト"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(DialogFont(11));
    const DialogUnits du(font());
    setFixedSize(du.Size(291, 209));

    // Created in template order, which is also the focus order.
    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frameEntry"));
    frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    du.Place(frame, 9, 8, 269, 28);
    QLabel* folderLabel = Static(this, du, QStringLiteral("staticFolderLabel"), 14, 12, 52);
    folderLabel->setText(QStringLiteral("【監視 フォルダ】"));
    folderText_ = Static(this, du, QStringLiteral("static1022"), 68, 12, 196);
    QLabel* programLabel = Static(this, du, QStringLiteral("staticProgramLabel"), 14, 24, 52);
    programLabel->setText(QStringLiteral("【実行する処理】"));
    programText_ = Static(this, du, QStringLiteral("static1023"), 68, 24, 196);
    // Where the substituted font runs wider, the labels keep their whole
    // text and the two texts beside them start after it.
    const int labelRight = std::max(folderLabel->x() + folderLabel->sizeHint().width(),
                                    programLabel->x() + programLabel->sizeHint().width());
    if (labelRight + du.X(2) > folderText_->x()) {
        for (QLabel* label : {folderLabel, programLabel}) {
            label->resize(labelRight - label->x(), label->height());
        }
        for (QLabel* text : {folderText_, programText_}) {
            text->setGeometry(labelRight + du.X(2), text->y(),
                              du.X(68 + 196) - labelRight - du.X(2), text->height());
        }
    }

    entryListBox_ = new QListWidget(this);
    entryListBox_->setObjectName(QStringLiteral("list1019"));
    entryListBox_->setSelectionMode(QAbstractItemView::SingleSelection);
    entryListBox_->setSortingEnabled(false);
    du.Place(entryListBox_, 9, 44, 201, 138);

    auto* save = Button(this, du, 1, QStringLiteral("保　　存"), 144);
    save->setDefault(true);
    auto* cancel = Button(this, du, 2, QStringLiteral("ｷｬﾝｾﾙ"), 164);
    auto* create = Button(this, du, 1016, QStringLiteral("新規登録"), 52);
    auto* change = Button(this, du, 1017, QStringLiteral("変更登録"), 72);
    auto* remove = Button(this, du, 1018, QStringLiteral("削　　　除"), 92);
    runButton_ = Button(this, du, 1021, kRunningCaption, 112);

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("framePanel"));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setBackgroundRole(QPalette::Mid);
    panel->setAutoFillBackground(true);
    du.Place(panel, 218, 44, 60, 140);
    panel->lower();  // behind the buttons

    startWithDesktop_ = new QCheckBox(QStringLiteral("デスクトップ起動時にTavrenを起動する"), this);
    startWithDesktop_->setObjectName(QStringLiteral("check1011"));
    du.Place(startWithDesktop_, 8, 188, 144, 10);
    // The text must not be cut short where the substituted font runs wider.
    startWithDesktop_->resize(
        std::max(startWithDesktop_->width(), startWithDesktop_->sizeHint().width()),
        startWithDesktop_->height());

    connect(create, &QPushButton::clicked, this, &CDirListDlg::OnNewClicked);
    connect(change, &QPushButton::clicked, this, &CDirListDlg::OnChangeClicked);
    connect(remove, &QPushButton::clicked, this, &CDirListDlg::OnDeleteClicked);
    connect(runButton_, &QPushButton::clicked, this, &CDirListDlg::OnRunStopClicked);
    connect(save, &QPushButton::clicked, this, &CDirListDlg::OnSaveClicked);
    connect(cancel, &QPushButton::clicked, this, &CDirListDlg::OnCancelClicked);
    // Only the user's selections arrive here: the dialog's own changes to
    // the list are made with its signals blocked.
    connect(entryListBox_, &QListWidget::itemSelectionChanged, this, &CDirListDlg::OnListSelChange);
    // Double-clicking a line edits it, as users expect of a list; the press
    // before it has already selected that line.
    connect(entryListBox_, &QListWidget::itemDoubleClicked, this, &CDirListDlg::OnChangeClicked);

    startValueAtOpen_ = platform::SystemStartSetting().Read();
    startWithDesktop_->setChecked(startValueAtOpen_ != 0);
    LoadEntries();
    SelectLine(0);
    if (!entries_.empty()) ShowEntryTexts(0);
}

CDirListDlg::~CDirListDlg() = default;

void CDirListDlg::LoadEntries() {
    const store::Status status = store::ReadAllSlots(data_.settingsFile(), entries_);
    if (!status) {
        // Shown as empty, but the user must know before a save replaces it.
        entries_.clear();
        loadFailed_ = true;
        ShowNotice(this, FromUtf8(status.message()) +
                             QStringLiteral("\n保存すると、この一覧の内容で置き換えられます。"));
    }
    RebuildList();
}

void CDirListDlg::RebuildList() {
    const QSignalBlocker blocker(entryListBox_);
    entryListBox_->clear();
    for (const store::SlotImage& image : entries_) entryListBox_->addItem(LineText(image));
}

void CDirListDlg::SelectLine(int line) {
    if (line < 0 || line >= entryListBox_->count()) return;
    const QSignalBlocker blocker(entryListBox_);
    entryListBox_->setCurrentRow(line, QItemSelectionModel::ClearAndSelect);
}

int CDirListDlg::SelectedLine() const {
    const QList<QListWidgetItem*> selected = entryListBox_->selectedItems();
    return selected.isEmpty() ? -1 : entryListBox_->row(selected.front());
}

void CDirListDlg::ShowEntryTexts(int line) {
    const store::Slot slot = store::DecodeSlot(entries_[static_cast<std::size_t>(line)]);
    folderText_->setText(FromUtf8(slot.entry.folder));
    programText_->setText(FromUtf8(slot.entry.program));
}

// The editor can close right after a box of its own (the question about a
// missing watched folder); the window manager then gives the keyboard to
// no window at all, so this dialog takes it back.
std::optional<EditorValues> CDirListDlg::RunEditor(const EditorInput& input) {
    std::optional<EditorValues> values = editor_(this, input);
    activateWindow();
    return values;
}

void CDirListDlg::OnNewClicked() {
    if (entries_.size() >= store::kMaxWatchEntries) {
        ShowNotice(this,
                   QStringLiteral("既に登録可能数に達しております。これ以上は登録できません。"));
        return;
    }
    const std::optional<EditorValues> values = RunEditor(EditorInput{});
    if (!values) return;
    store::SlotImage image = store::BlankSlotImage();
    if (const store::Status s = FillSlot(*values, image); !s) {
        ShowNotice(this, FromUtf8(s.message()));
        return;
    }
    entries_.push_back(image);
    {
        const QSignalBlocker blocker(entryListBox_);
        entryListBox_->addItem(LineText(image));
    }
    modified_ = true;
}

void CDirListDlg::OnChangeClicked() {
    const int line = SelectedLine();
    if (line < 0) {
        ShowNotice(this, QStringLiteral("変更される設定タイトルを選んでください。"));
        return;
    }
    store::SlotImage image = entries_[static_cast<std::size_t>(line)];
    const std::optional<EditorValues> values =
        RunEditor(EditorInput{1, ToEditor(store::DecodeSlot(image).entry)});
    if (!values) return;
    if (const store::Status s = FillSlot(*values, image); !s) {
        ShowNotice(this, FromUtf8(s.message()));
        return;
    }
    entries_[static_cast<std::size_t>(line)] = image;
    RebuildList();
    SelectLine(line);
    ShowEntryTexts(line);
    modified_ = true;
}

void CDirListDlg::OnDeleteClicked() {
    const int line = SelectedLine();
    if (line < 0) {
        ShowNotice(this, QStringLiteral("削除対象の設定タイトルを選んでください。"));
        return;
    }
    if (!AskYesNo(this, QStringLiteral("この設定情報を削除してよろしいですか？"
                                       "「はい／いいえ」を選んでください。"))) {
        return;
    }
    entries_.erase(entries_.begin() + line);
    RebuildList();  // leaves no line selected and the texts as they were
}

void CDirListDlg::OnRunStopClicked() {
    const int line = SelectedLine();
    if (line < 0) {
        ShowNotice(this, QStringLiteral("設定タイトルを選んでください。"));
        return;
    }
    store::SlotImage& image = entries_[static_cast<std::size_t>(line)];
    const bool running = !store::IsRunning(image);
    SetRunning(image, running);
    runButton_->setText(running ? kRunningCaption : kStoppedCaption);
    modified_ = true;
    RebuildList();
    SelectLine(line);
}

void CDirListDlg::OnListSelChange() {
    const int line = SelectedLine();
    if (line < 0) {
        ShowNotice(this, QStringLiteral("リストを選んでください。"));
        return;
    }
    ShowEntryTexts(line);
}

// Opening the settings file for writing, as far as it can be known before
// the write: a writable tavdat folder, and no unwritable file in the way.
bool CDirListDlg::CanOpenSettingsForWriting() const {
    const QFileInfo folder(data_.tavdat());
    if (!folder.isDir() || !folder.isWritable()) return false;
    const QFileInfo file(data_.settingsFile());
    return !file.exists() || (file.isFile() && file.isWritable());
}

void CDirListDlg::OnSaveClicked() {
    if (loadFailed_ &&
        !AskYesNo(this, QStringLiteral("読み込めなかった設定ファイルを、この一覧の内容で置き換えて"
                                       "よろしいですか？「はい／いいえ」を選んでください。"))) {
        return;
    }
    if (!CanOpenSettingsForWriting()) {
        ShowNotice(this, QStringLiteral("書込みファイルオープンエラー"));
        return;
    }
    // Written through a temporary file, so a failure keeps the old file.
    if (const store::Status s = store::WriteAllSlots(data_.settingsFile(), entries_); !s) {
        ShowNotice(this, FromUtf8(s.message()) +
                             QStringLiteral("\n元の設定ファイルは変更されていません。"));
        return;
    }
    const int enabled = startWithDesktop_->isChecked() ? 1 : 0;
    if (enabled != startValueAtOpen_) platform::SystemStartSetting().Apply(enabled);
    QDialog::accept();
}

void CDirListDlg::OnCancelClicked() {
    if (modified_ &&
        !AskYesNo(this, QStringLiteral("情報が更新されています、保存しなくてよろしいですか？"
                                       "「はい／いいえ」を選んでください。"))) {
        return;
    }
    QDialog::reject();
}

void CDirListDlg::reject() {
    OnCancelClicked();
}

int RunWatchSettingsDialog(const store::DataFolder& data, QWidget* parent) {
    CDirListDlg dialog(data, parent);
    return dialog.exec();
}

}  // namespace tavren::ui
